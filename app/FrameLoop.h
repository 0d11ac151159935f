// The frame loop without a window: opens the depth sensor and the hand
// tracker, loads the configuration and, once per step, reads a tracker frame,
// updates the depth picture (histogram and texture), starts hands at
// completed focus gestures, turns the tracked hands into hand points (with
// the two-hand midpoint) and feeds them to the gesture manager, whose
// emitters act on the desktop, and to the feedback window. The viewer draws
// what a step leaves behind; the benchmarks and tests run it as it is.
//
// Reads that time out (a stalled or unplugged sensor) count: after
// kReadsBeforeNoHands of them in a row the hands count as gone, and whatever
// they held is let go.
//
// Teardown releases every key and button the gesture manager holds, so the
// desktop and the picture window must outlive the loop.
#pragma once

#include <OniCAPI.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/DepthImage.h"
#include "app/HandPoints.h"
#include "app/OpenNIHandles.h"
#include "app/Overlay.h"
#include "feedback/Feedback.h"
#include "gesture/FeedbackState.h"
#include "gesture/GestureFeed.h"
#include "platform/Desktop.h"
#include "platform/PictureWindow.h"

// Sets a device's pacing: 0 is the virtual sensor's no-drop mode (every read
// gets the next frame), 1 real time.
bool setPlaybackSpeed(OniDeviceHandle device, float speed);

class FrameLoop {
  public:
    static constexpr int kMaxHands = 20;
    // Timed-out reads (about a second each) after which the hands count as gone.
    static constexpr int kReadsBeforeNoHands = 3;

    struct Settings {
        std::string device;  // a URI, or empty for the first sensor
        std::string configPath;
        bool watch = false;                  // load the configuration again when it changes
        std::optional<float> playbackSpeed;  // left as the device has it when unset
    };

    // What one frame saw, for the observer.
    struct Frame {
        int32_t handCount = 0;
        Point3f hands[kMaxHands]{};
        HandPointSet set;
        const OniFrame* depth = nullptr;  // valid during the observer call only
    };
    // Called after the hand points are known and before the gesture manager
    // sees them.
    using Observer = std::function<void(const Frame& frame, FrameLoop& loop)>;

    enum class Step {
        Frame,      // a frame was read and fed
        Missed,     // the read failed; nothing changed
        HandsGone,  // the read timed out once too often: the hands were let go
    };

    FrameLoop(platform::Desktop& desktop, std::unique_ptr<platform::PictureWindow> window);
    ~FrameLoop();
    FrameLoop(const FrameLoop&) = delete;
    FrameLoop& operator=(const FrameLoop&) = delete;

    // Opens the sensor, the hand tracker and the configuration, printing what
    // went wrong; 0 when all is ready. error() says it in a line.
    int open(const Settings& settings);
    const std::string& error() const { return error_; }

    // One frame.
    Step step();

    // Paused, the recognisers, the overlay and the feedback window see no
    // hands. Pausing releases everything held.
    void setPaused(bool paused);
    bool paused() const { return paused_; }
    void releaseEverything();

    void setObserver(Observer observer) { observer_ = std::move(observer); }

    long frameCount() const { return frameCount_; }
    int32_t depthWidth() const { return depthWidth_; }
    int32_t depthHeight() const { return depthHeight_; }
    int32_t depthFps() const { return depthFps_; }
    float viewScaleX() const { return viewScaleX_; }
    float viewScaleY() const { return viewScaleY_; }
    DepthConverter& converter() { return *converter_; }
    gesture::GestureFeed& feed() { return *gestureFeed_; }
    platform::Desktop& desktop() { return desktop_; }

    // What the last frame left for drawing: the depth picture (updated this
    // step when depthUpdated()), its shown size, and the hands in window
    // coordinates with their overlay anchors.
    const DepthImage& depthImage() const { return depthImage_; }
    bool depthUpdated() const { return depthUpdated_; }
    int32_t shownWidth() const { return shownWidth_; }
    int32_t shownHeight() const { return shownHeight_; }
    int32_t handCount() const { return handCount_; }
    const gesture::FeedbackState& feedbackState() const { return feedbackState_; }
    const Point3f* screenPoints() const { return screenPoints_; }
    const OverlayAnchors& anchors() const { return anchors_; }
    const Frame& lastFrame() const { return frame_; }

  private:
    void processHandPoints(const OniFrame* depthFrame);
    // Feeds the gesture manager a frame without hands: it lets go of every
    // key and button the hands hold.
    void feedNoHands();
    void updateFeedback();
    void endFrame();
    // Loads the configuration again when its file has changed.
    void watchConfiguration();

    platform::Desktop& desktop_;
    Settings settings_;
    OpenNIRuntime openni_;
    OrvexRuntime orvex_;
    Device device_;
    HandTracker handTracker_;
    DepthImage depthImage_;
    std::unique_ptr<gesture::GestureFeed> gestureFeed_;
    // The picture window and the sounds; it keeps the sound and window modes.
    std::unique_ptr<feedback::Feedback> feedback_;
    std::unique_ptr<TrackerConverter> converter_;
    Frame frame_;
    Point3f screenPoints_[kMaxHands]{};
    OverlayAnchors anchors_;
    gesture::FeedbackState feedbackState_{};
    Observer observer_;
    std::string error_;
    int32_t depthWidth_ = 320;
    int32_t depthHeight_ = 240;
    int32_t depthFps_ = 30;
    float viewScaleX_ = 2.25f;
    float viewScaleY_ = 2.0f;
    int32_t handCount_ = 0;
    int32_t shownWidth_ = 0;
    int32_t shownHeight_ = 0;
    bool depthUpdated_ = false;
    long frameCount_ = 0;
    bool paused_ = false;
    int missedReads_ = 0;  // timed-out reads in a row
    // The configuration file's last seen change time and size.
    long long configStamp_ = -1;
};
