// The viewer's frame path without the window, for the frame, latency and
// jitter benchmarks: a scene opened through OpenNI 2 and the hand tracker
// (the Orvex operations), and per frame the tracker read, the depth picture
// (histogram and texture), hands started at completed focus gestures, hand
// point conversion with the two-hand midpoint, and the gesture manager with
// its emitters on a recording desktop. Only the OpenGL upload, the overlay
// and the feedback window are left out.
//
// The scene is switched to no-drop pacing unless asked otherwise, so that
// every read gets the next frame: frame i of the path is frame i of the scene.
#pragma once

#include <OniCAPI.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "app/DepthImage.h"
#include "app/HandPoints.h"
#include "app/OpenNIHandles.h"
#include "gesture/FeedbackState.h"
#include "gesture/GestureFeed.h"
#include "platform/RecordingDesktop.h"

namespace bench {

using ::TrackerConverter;

inline DepthFrameView viewOf(const OniFrame* f) {
    return depthViewOf(f);
}

// Sets a device's pacing: 0 is the virtual sensor's no-drop mode, 1 real time.
inline bool setPlaybackSpeed(OniDeviceHandle device, float speed) {
    return oniDeviceSetProperty(device, ONI_DEVICE_PROPERTY_PLAYBACK_SPEED, &speed, sizeof speed) ==
           ONI_STATUS_OK;
}

// What one frame of the path saw, for callers that look inside.
struct FrameInfo {
    int32_t handCount = 0;
    Point3f hands[20];
    HandPointSet set;
    const OniFrame* depth = nullptr;  // valid during the observer call only
};

class FramePath {
  public:
    // Called after the hand points are known and before the gesture manager
    // sees them (the latency benchmark feeds a second manager from here).
    using Observer = std::function<void(const FrameInfo& info, FramePath& path)>;

    FramePath(const std::string& scene, const std::string& config, float speed = 0.0f)
        : desktop_(platform::ScreenSize{1920, 1080}),
          feed_(std::make_unique<gesture::GestureFeed>(desktop_)),
          converter_(tracker_) {
        openni_.initialize();
        if (device_.open(scene.c_str()) != ONI_STATUS_OK) {
            error_ = std::string("cannot open ") + scene + ": " + oniGetExtendedError();
            return;
        }
        if (!setPlaybackSpeed(device_.get(), speed)) {
            error_ = "the device does not take a playback speed";
            return;
        }
        orvex_.initialize();
        if (tracker_.create(device_.get()) != ORVEX_STATUS_OK) {
            error_ = std::string("no hand tracker: ") + orvexGetLastError();
            return;
        }
        DepthStream stream;
        if (stream.create(device_.get()) == ONI_STATUS_OK) {
            OniVideoMode mode{};
            int size = sizeof mode;
            if (oniStreamGetProperty(stream.get(), ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, &size) ==
                ONI_STATUS_OK) {
                width_ = mode.resolutionX;
                height_ = mode.resolutionY;
                fps_ = mode.fps;
            }
        }
        scaleX_ = 720.0f / static_cast<float>(width_);
        scaleY_ = 480.0f / static_cast<float>(height_);
        gesture::GestureManager& manager = feed_->manager();
        manager.frameRate = fps_;
        if (manager.router().loadGestureConfig(config.c_str(), width_, height_) != 0) {
            error_ = "cannot load " + config;
            return;
        }
        orvexStartGestureDetection(tracker_.get(), ORVEX_GESTURE_WAVE);
        orvexStartGestureDetection(tracker_.get(), ORVEX_GESTURE_CLICK);
        orvexSetHandSmoothingFactor(tracker_.get(), 0.05f);
        ok_ = true;
    }
    ~FramePath() {
        // The gesture manager first: it lets go of what it holds while the
        // desktop is still there.
        feed_.reset();
        tracker_.shutdown();
        orvex_.shutdown();
        device_.close();
        openni_.shutdown();
    }
    FramePath(const FramePath&) = delete;
    FramePath& operator=(const FramePath&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    int width() const { return width_; }
    int height() const { return height_; }
    platform::RecordingDesktop& desktop() { return desktop_; }
    gesture::GestureFeed& feed() { return *feed_; }
    DepthConverter& converter() { return converter_; }
    float scaleX() const { return scaleX_; }
    float scaleY() const { return scaleY_; }
    void setObserver(Observer observer) { observer_ = std::move(observer); }

    // One frame; false when the read failed (a timeout at the scene's end).
    bool step() {
        TrackerFrame frame(tracker_.get());
        if (frame.read() != ORVEX_STATUS_OK || frame.get() == nullptr) return false;
        FrameRef depth(frame->depthFrame);
        DepthFrameView view;
        if (depth.get() != nullptr) {
            if (!image_.allocated()) {
                image_.allocate(depth.get()->videoMode.resolutionX,
                                depth.get()->videoMode.resolutionY);
            }
            view = viewOf(depth.get());
            image_.update(view);
        }
        for (int i = 0; i < frame->gestureCount; ++i) {
            const OrvexGestureData& g = frame->gestures[i];
            if ((g.state & ORVEX_GESTURE_STATE_COMPLETED) != 0) {
                OrvexHandId id = -1;
                orvexStartHandTracking(tracker_.get(), &g.currentPosition, &id);
            }
        }
        FrameInfo& info = info_;
        info.handCount = 0;
        for (int i = 0; i < frame->handCount; ++i) {
            const OrvexHandData& h = frame->hands[i];
            if ((h.state & ORVEX_HAND_STATE_TRACKED) != 0 && info.handCount < 20) {
                info.hands[info.handCount++] = Point3f{h.position.x, h.position.y, h.position.z};
            }
        }
        convertHands(info.hands, info.handCount, scaleX_, scaleY_, converter_, info.set,
                     screenPoints_);
        if (info.handCount >= 2 && depth.get() != nullptr) {
            computeHandMidpoint(&view, info.set, converter_);
        }
        if (observer_) {
            info.depth = depth.get();
            observer_(info, *this);
            info.depth = nullptr;
        }
        feed_->feedHandPoints(std::span<const Point3f, 3>(info.set.depth),
                              std::span<const Point3f, 3>(info.set.world), info.handCount, state_);
        return true;
    }

    const FrameInfo& lastFrame() const { return info_; }
    const DepthImage& image() const { return image_; }

  private:
    OpenNIRuntime openni_;
    OrvexRuntime orvex_;
    Device device_;
    HandTracker tracker_;
    platform::RecordingDesktop desktop_;
    std::unique_ptr<gesture::GestureFeed> feed_;
    TrackerConverter converter_;
    DepthImage image_;
    gesture::FeedbackState state_{};
    FrameInfo info_;
    Point3f screenPoints_[20]{};
    Observer observer_;
    int width_ = 320;
    int height_ = 240;
    int fps_ = 30;
    float scaleX_ = 2.25f;
    float scaleY_ = 2.0f;
    bool ok_ = false;
    std::string error_;
};

}  // namespace bench
