#include "platform/RecordingKinectBus.h"

#include <utility>

namespace platform {

class ScriptedCamera final : public KinectCamera {
  public:
    explicit ScriptedCamera(RecordingKinectBus& bus) : bus_(bus) {}
    ~ScriptedCamera() override { bus_.note("close"); }
    ScriptedCamera(const ScriptedCamera&) = delete;
    ScriptedCamera& operator=(const ScriptedCamera&) = delete;

    KinectDepthUnit unit() const override { return bus_.unit_; }
    bool startDepth(KinectFrameSink& sink, std::string& /*error*/) override {
        bus_.note("start");
        sink_ = &sink;
        return true;
    }
    PumpResult pump(int /*timeoutMs*/) override {
        if (bus_.repeat_ && next_ >= bus_.frames_.size()) next_ = 0;
        if (sink_ == nullptr || next_ >= bus_.frames_.size()) return PumpResult::kEnded;
        const ScriptedFrame& f = bus_.frames_[next_++];
        sink_->depthFrame(f.pixels.data(), f.timestamp);
        return PumpResult::kGoingOn;
    }
    void stopDepth() override {
        bus_.note("stop");
        sink_ = nullptr;
    }

  private:
    RecordingKinectBus& bus_;
    KinectFrameSink* sink_ = nullptr;
    size_t next_ = 0;
};

RecordingKinectBus::RecordingKinectBus(int cameras, KinectDepthUnit unit,
                                       std::vector<ScriptedFrame> frames, bool repeat)
    : cameras_(cameras), unit_(unit), frames_(std::move(frames)), repeat_(repeat) {}

std::unique_ptr<KinectCamera> RecordingKinectBus::open(int index, std::string& error) {
    note("open " + std::to_string(index));
    std::lock_guard lock(mutex_);
    if (!openError_.empty() || index < 0 || index >= cameras_) {
        error = openError_.empty() ? "no such camera" : openError_;
        return nullptr;
    }
    return std::make_unique<ScriptedCamera>(*this);
}

void RecordingKinectBus::failOpens(std::string error) {
    std::lock_guard lock(mutex_);
    openError_ = std::move(error);
}

std::vector<std::string> RecordingKinectBus::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void RecordingKinectBus::note(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
}

}  // namespace platform
