#include "app/FrameLoop.h"

#include <sys/stat.h>

#include <span>
#include <utility>

#include "gesture/GestureManager.h"
#include "platform/Log.h"

namespace {

// The configuration file's change time and size in one number; -1 when it
// cannot be read.
long long fileStamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec +
           static_cast<long long>(st.st_size) * 7919LL;
}

}  // namespace

bool setPlaybackSpeed(OniDeviceHandle device, float speed) {
    return oniDeviceSetProperty(device, ONI_DEVICE_PROPERTY_PLAYBACK_SPEED, &speed, sizeof speed) ==
           ONI_STATUS_OK;
}

FrameLoop::FrameLoop(platform::Desktop& desktop, std::unique_ptr<platform::PictureWindow> window)
    : desktop_(desktop),
      gestureFeed_(std::make_unique<gesture::GestureFeed>(desktop)),
      feedback_(std::make_unique<feedback::Feedback>(std::move(window), desktop)),
      converter_(std::make_unique<TrackerConverter>(handTracker_)) {}

FrameLoop::~FrameLoop() {
    handTracker_.shutdown();
    orvex_.shutdown();
    device_.close();
    openni_.shutdown();
    // Tearing the gesture manager down releases every key and button held,
    // while the desktop is still there.
    gestureFeed_.reset();
    feedback_.reset();
}

int FrameLoop::open(const Settings& settings) {
    settings_ = settings;
    openni_.initialize();
    const char* uri = settings_.device.empty() ? nullptr : settings_.device.c_str();
    const OniStatus opened = device_.open(uri);
    if (opened != ONI_STATUS_OK) {
        error_ = std::string("cannot open ") + settings_.device + ": " + oniGetExtendedError();
        logLine("Open Device failed:\n%s\n", oniGetExtendedError());
        return opened;
    }
    if (settings_.playbackSpeed && !setPlaybackSpeed(device_.get(), *settings_.playbackSpeed)) {
        error_ = "the device does not take a playback speed";
        return 1;
    }
    orvex_.initialize();
    if (handTracker_.create(device_.get()) != ORVEX_STATUS_OK) {
        error_ = std::string("no hand tracker: ") + orvexGetLastError();
        return 1;
    }
    DepthStream depthStream;
    if (depthStream.create(device_.get()) != ONI_STATUS_OK) {
        logLine("Tolvane: Couldn't find depth stream:\n%s\n", oniGetExtendedError());
    } else {
        OniVideoMode mode{};
        int size = sizeof mode;
        if (oniStreamGetProperty(depthStream.get(), ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, &size) ==
                ONI_STATUS_OK &&
            mode.resolutionX > 0 && mode.resolutionY > 0) {
            depthWidth_ = mode.resolutionX;
            depthHeight_ = mode.resolutionY;
            depthFps_ = mode.fps;
        }
        depthStream.destroy();
    }
    viewScaleX_ = 720.0f / static_cast<float>(depthWidth_);
    viewScaleY_ = 480.0f / static_cast<float>(depthHeight_);
    gesture::GestureManager& manager = gestureFeed_->manager();
    gestureFeed_->feedbackCode = 0;
    manager.frameRate = depthFps_;
    EventRouter& router = manager.router();
    configStamp_ = fileStamp(settings_.configPath);
    if (router.loadGestureConfig(settings_.configPath.c_str(), depthWidth_, depthHeight_) != 0) {
        error_ = "cannot load " + settings_.configPath;
        return 1;
    }
    const int32_t code = router.feedbackWindow * 16 + router.feedbackSound;
    manager.feedbackCode = code;
    gestureFeed_->feedbackCode = code;
    feedback_->setup(code, feedbackState_, handCount_);
    orvexStartGestureDetection(handTracker_.get(), ORVEX_GESTURE_WAVE);
    orvexStartGestureDetection(handTracker_.get(), ORVEX_GESTURE_CLICK);
    orvexSetHandSmoothingFactor(handTracker_.get(), 0.05f);
    return 0;
}

FrameLoop::Step FrameLoop::step() {
    depthUpdated_ = false;
    TrackerFrame frame(handTracker_.get());
    const OrvexStatus read = frame.read();
    if (read != ORVEX_STATUS_OK || frame.get() == nullptr) {
        logLine("GetNextData failed\n");
        Step result = Step::Missed;
        // Three seconds without any frame (a stalled or unplugged sensor):
        // the hands are not seen, so nothing they hold stays down meanwhile.
        if (read == ORVEX_STATUS_TIMEOUT && ++missedReads_ == kReadsBeforeNoHands) {
            feedNoHands();
            updateFeedback();
            result = Step::HandsGone;
        }
        endFrame();
        return result;
    }
    missedReads_ = 0;
    FrameRef depth(frame->depthFrame);
    if (depth.get() != nullptr) {
        if (!depthImage_.allocated()) {
            depthImage_.allocate(depth.get()->videoMode.resolutionX,
                                 depth.get()->videoMode.resolutionY);
        }
        const DepthFrameView view = depthViewOf(depth.get());
        depthImage_.update(view);
        if (depthImage_.allocated()) {
            depthUpdated_ = true;
            shownWidth_ = view.resolutionX;
            shownHeight_ = view.resolutionY;
        }
    }
    for (int i = 0; i < frame->gestureCount; ++i) {
        const OrvexGestureData& g = frame->gestures[i];
        if ((g.state & ORVEX_GESTURE_STATE_COMPLETED) != 0) {
            OrvexHandId id = -1;
            orvexStartHandTracking(handTracker_.get(), &g.currentPosition, &id);
        }
    }
    frame_.handCount = 0;
    for (int i = 0; i < frame->handCount; ++i) {
        const OrvexHandData& h = frame->hands[i];
        if ((h.state & ORVEX_HAND_STATE_TRACKED) != 0 && frame_.handCount < kMaxHands) {
            frame_.hands[frame_.handCount++] = Point3f{h.position.x, h.position.y, h.position.z};
        }
    }
    processHandPoints(depth.get());
    endFrame();
    return Step::Frame;
}

void FrameLoop::processHandPoints(const OniFrame* depthFrame) {
    const int32_t count = frame_.handCount;
    handCount_ = count;
    frame_.set = HandPointSet{};
    convertHands(frame_.hands, count, viewScaleX_, viewScaleY_, *converter_, frame_.set,
                 screenPoints_);
    if (count >= 2 && depthFrame != nullptr) {
        const DepthFrameView view = depthViewOf(depthFrame);
        computeHandMidpoint(&view, frame_.set, *converter_);
    }
    if (observer_) {
        frame_.depth = depthFrame;
        observer_(frame_, *this);
        frame_.depth = nullptr;
    }
    if (paused_) {
        feedNoHands();
    } else {
        gestureFeed_->feedHandPoints(std::span<const Point3f, 3>(frame_.set.depth),
                                     std::span<const Point3f, 3>(frame_.set.world), count,
                                     feedbackState_);
    }
    updateFeedback();
}

void FrameLoop::feedNoHands() {
    handCount_ = 0;
    const HandPointSet none;
    gestureFeed_->feedHandPoints(std::span<const Point3f, 3>(none.depth),
                                 std::span<const Point3f, 3>(none.world), 0, feedbackState_);
}

void FrameLoop::updateFeedback() {
    updateAnchors(handCount_, feedbackState_, screenPoints_, anchors_);
    feedback_->update(feedbackState_, handCount_);
}

void FrameLoop::setPaused(bool paused) {
    paused_ = paused;
    if (paused_) releaseEverything();
}

void FrameLoop::releaseEverything() {
    gestureFeed_->manager().router().releaseAll();
}

void FrameLoop::endFrame() {
    ++frameCount_;
    if (settings_.watch && frameCount_ % 15 == 0) watchConfiguration();
}

void FrameLoop::watchConfiguration() {
    const long long stamp = fileStamp(settings_.configPath);
    if (stamp == configStamp_ || stamp == -1) return;
    configStamp_ = stamp;
    logLine("\nConfiguration file changed: loading it again\n");
    releaseEverything();
    auto fresh = std::make_unique<EventRouter>(desktop_);
    if (fresh->loadGestureConfig(settings_.configPath.c_str(), depthWidth_, depthHeight_) != 0) {
        for (const std::string& e : fresh->loadErrors()) logLine("%s\n", e.c_str());
        logLine("The changed configuration has errors: keeping the previous one\n");
        return;
    }
    gestureFeed_->manager().replaceRouter(std::move(fresh));
}
