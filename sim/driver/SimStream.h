// The depth stream of a virtual sensor: renders the scene's frames on its own
// thread and hands them to OpenNI 2.
//
// Pacing: with a speed above 0 frame n is due n / (fps * speed) seconds after
// the start (the first a few milliseconds after it; frames are skipped if
// rendering falls behind the clock, as a sensor's would be). With a speed of
// 0 or less (no-drop mode) each frame comes when a reader waits and has no
// frame pending (OpenNI 2 then calls the device's tryManualTrigger), so a
// reader that waits (oniWaitForAnyStream, oniStreamReadFrame) gets every
// frame, as fast as it reads; a client that only listens for new-frame
// callbacks gets nothing in this mode.
//
// Frame n (counting from 0 at the start, across loops) carries frameIndex n + 1
// and timestamp n / fps seconds in microseconds, and shows the scene's frame
// n modulo its frame count. Without loop the stream stops delivering after the
// scene's last frame: reads then block, and waits time out.
//
// Sensor faults of the scene (Scene::faults) are played by scene frame, on
// every pass through a looping scene: a stall holds the next frame back for a
// while, then the scene goes on where it stopped; zeros, range, size and empty
// spoil the frames' pixels or their sizes; after a vanish nothing is sent
// again and the stream cannot be started again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/Renderer.h"
#include "sim/driver/OniDriver.h"

namespace sim::driver {

class SimStream : public oni::driver::StreamBase {
  public:
    SimStream(std::shared_ptr<const Scene> scene, double speed, bool loop);
    ~SimStream() override;
    SimStream(const SimStream&) = delete;
    SimStream& operator=(const SimStream&) = delete;

    OniStatus start() override;
    void stop() override;

    OniStatus getProperty(int propertyId, void* data, int* pDataSize) override;
    OniStatus setProperty(int propertyId, const void* data, int dataSize) override;
    OniBool isPropertySupported(int propertyId) override;
    int getRequiredFrameSize() override;
    void notifyAllProperties() override;

    // From the device.
    void trigger();
    void setSpeed(double speed);
    void setLoop(bool loop);

    // The video modes the stream offers: both resolutions at the scene's rate.
    static std::vector<OniVideoMode> videoModes(const Scene& scene);

  private:
    using Clock = std::chrono::steady_clock;
    void run();
    // Renders frame n into a new OpenNI frame (nullptr if none is available).
    OniFrame* produce(Renderer& renderer, const OniVideoMode& mode, const OniCropping& crop,
                      bool mirror, int64_t n);
    // Spoils frame k's pixels or sizes as the scene's faults say.
    void spoil(OniFrame* frame, int k, const OniVideoMode& mode);
    // A stall that starts at frame k, or nullptr.
    const Fault* stallAt(int k) const;
    bool vanishesAt(int k) const;

    const std::shared_ptr<const Scene> scene_;
    const int frameCount_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool running_ = false;
    bool quit_ = false;
    double speed_;
    bool loop_;
    bool triggered_ = false;
    int64_t next_ = 0;  // frame n to produce next
    Clock::time_point anchorTime_;
    int64_t anchorFrame_ = 0;
    OniVideoMode mode_{};
    bool mirror_ = false;
    OniCropping crop_{};
    std::shared_ptr<Renderer> renderer_;  // replaced when the video mode changes

    std::vector<uint16_t> image_;  // used by the producing thread only
    int64_t stalledBefore_ = -1;   // frame n whose stall has been played
    bool vanished_ = false;
};

}  // namespace sim::driver
