// The viewer: owns the display window and, once per frame from the GLUT main
// loop, steps the frame loop (app/FrameLoop.h: sensor, hand tracker, gesture
// manager and feedback window) and draws what it left: the depth picture,
// the overlay, the tuning view and the paused text. It handles the keys.
//
// Ending: Escape, SIGINT, SIGTERM and SIGHUP leave the main loop; the viewer
// is then destroyed as on any other way out, which releases every key and
// button the program holds, and the process exits with code 1. "-frames N"
// ends the same way after N frames with code 0.
#pragma once

#include <memory>

#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/TuningView.h"
#include "gesture/Decisions.h"
#include "gesture/Explainer.h"
#include "gesture/Trace.h"
#include "platform/Desktop.h"
#include "platform/PictureWindow.h"

class SampleViewer {
  public:
    // The feedback window shows in `window`; the desktop and the window's
    // owner must outlive the viewer.
    SampleViewer(const Options& options, platform::Desktop& desktop,
                 std::unique_ptr<platform::PictureWindow> window);
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
    void draw(FrameLoop::Step step);
    // The depth picture last uploaded, as a quad over the whole window.
    void drawDepthQuad();
    void uploadDepthImage();
    void drawOverlayAndTuning();
    void endFrame();
    void drawPaused();
    void saveSnapshot();
    // Gives the gesture manager the sinks that are on ("-explain", "-trace",
    // the tuning view), or none.
    void attachDecisionSinks();

    char name_[256]{};
    const Options& options_;
    const float markerScale_ = 2.25f;
    int exitCode_ = 0;
    // Explanations, trace and the tuning view (T), fed by the recognisers
    // only while one of them is on. Declared before the loop: its teardown
    // still tells them about the releases.
    std::unique_ptr<gesture::Explainer> explainer_;
    gesture::TraceWriter trace_;
    TuningView tuningView_;
    bool tuningOn_ = false;
    gesture::DecisionFanout decisionSinks_;
    FrameLoop loop_;
};

// The one viewer, for the GLUT callbacks, which carry no user data.
extern SampleViewer* currentViewer;
