// The viewer: opens the depth sensor and the hand tracker, loads the
// configuration, owns the display window and, once per frame from the GLUT
// main loop, reads a tracker frame, draws the depth picture, starts hands at
// focus gestures, feeds the gesture manager and draws the overlay.
//
// Ending: Escape, SIGINT, SIGTERM and SIGHUP leave the main loop; the viewer
// is then destroyed as on any other way out, which releases every key and
// button the program holds, and the process exits with code 1. "-frames N"
// ends the same way after N frames with code 0.
#pragma once

#include <memory>

#include "app/CommandLine.h"
#include "app/DepthImage.h"
#include "app/HandPoints.h"
#include "app/OpenNIHandles.h"
#include "app/Overlay.h"
#include "app/TuningView.h"
#include "feedback/Feedback.h"
#include "gesture/Decisions.h"
#include "gesture/Explainer.h"
#include "gesture/FeedbackState.h"
#include "gesture/GestureFeed.h"
#include "gesture/Trace.h"
#include "platform/Desktop.h"

class SampleViewer {
  public:
    SampleViewer(const Options& options, platform::Desktop& desktop);
    virtual ~SampleViewer();
    SampleViewer(const SampleViewer&) = delete;
    SampleViewer& operator=(const SampleViewer&) = delete;

    virtual int init(int argc, char** argv);
    virtual int run();
    virtual void display();
    virtual void onKey(unsigned char key, int x, int y);

    // The process exit code once the main loop has returned.
    int exitCode() const { return exitCode_; }
    // Asks the main loop to end with `code` (from a signal: async-safe).
    static void requestStop(int code);

  protected:
    virtual int initOpenGL(int argc, char** argv);

  private:
    void processHandPoints(OniFrame* depthFrame, const Point3f* positions, int32_t count);
    void updateFeedback();
    // Feeds the gesture manager a frame without hands: it lets go of every
    // key and button the hands hold. The overlay and the feedback window
    // follow the hands the recognisers were told about.
    void feedNoHands();
    // After reads that timed out: no hands, and the window redrawn to say so.
    void seeNoHands();
    void drawDepthImage(OniFrame* depthFrame);
    // The depth picture last uploaded, as a quad over the whole window.
    void drawDepthQuad();
    void endFrame();
    // "-watch": loads the configuration again when its file has changed.
    void watchConfiguration();
    void releaseEverything();
    void drawPaused();
    void saveSnapshot();
    // Gives the gesture manager the sinks that are on ("-explain", "-trace",
    // the tuning view), or none.
    void attachDecisionSinks();

    DepthImage depthImage_;
    char name_[256]{};
    const Options& options_;
    platform::Desktop& desktop_;
    OpenNIRuntime openni_;
    OrvexRuntime orvex_;
    Device device_;
    HandTracker handTracker_;
    DepthStream depthStream_;
    Point3f screenPoints_[20];
    OverlayAnchors anchors_;
    gesture::FeedbackState feedbackState_;
    int32_t depthWidth_ = 320;
    int32_t depthHeight_ = 240;
    int32_t depthFps_ = 30;
    float viewScaleX_ = 2.25f;
    float viewScaleY_ = 2.0f;
    const float markerScale_ = 2.25f;
    int32_t handCount_ = 0;
    int32_t shownWidth_ = 0;  // size of the depth picture last shown
    int32_t shownHeight_ = 0;
    std::unique_ptr<gesture::GestureFeed> gestureFeed_;
    // The picture window and the sounds; it keeps the sound and window modes.
    std::unique_ptr<feedback::Feedback> feedback_;
    std::unique_ptr<TrackerConverter> converter_;
    long frameCount_ = 0;
    bool paused_ = false;
    int missedReads_ = 0;  // timed-out reads in a row
    // The configuration file's last seen change time and size ("-watch").
    long long configStamp_ = -1;
    int exitCode_ = 0;
    // Explanations, trace and the tuning view (T), fed by the recognisers
    // only while one of them is on.
    std::unique_ptr<gesture::Explainer> explainer_;
    gesture::TraceWriter trace_;
    TuningView tuningView_;
    bool tuningOn_ = false;
    gesture::DecisionFanout decisionSinks_;
};

// The one viewer, for the GLUT callbacks, which carry no user data.
extern SampleViewer* currentViewer;
