// A KinectBus for tests: cameras that play scripted frames, one per pump(),
// and end after the last (as an unplugged camera or a finished recording
// does) or start again from the first, with a log of the calls made.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/KinectBus.h"

namespace platform {

struct ScriptedFrame {
    std::vector<uint16_t> pixels;  // kKinectWidth x kKinectHeight
    uint32_t timestamp = 0;
};

class RecordingKinectBus final : public KinectBus {
  public:
    RecordingKinectBus(int cameras, KinectDepthUnit unit, std::vector<ScriptedFrame> frames,
                       bool repeat = false);

    int count() override { return cameras_; }
    std::unique_ptr<KinectCamera> open(int index, std::string& error) override;
    std::string name() const override { return "recording"; }

    // Opens fail with `error` from now on.
    void failOpens(std::string error);
    // "open N", "start", "stop", "close", in order.
    std::vector<std::string> calls() const;

  private:
    friend class ScriptedCamera;
    void note(const std::string& call);

    const int cameras_;
    const KinectDepthUnit unit_;
    const std::vector<ScriptedFrame> frames_;
    const bool repeat_;
    std::string openError_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace platform
