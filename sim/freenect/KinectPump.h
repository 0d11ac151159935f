// libfreenect's event loop on a thread of its own: from start() to stop()
// it handles the camera's events, and so delivers its frames to the sink on
// that thread. The loop ends by itself when the camera is gone or its
// recording is over; stop() (and the destructor) always ends and joins it.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/KinectBus.h"

namespace sim::freenect {

class KinectPump {
  public:
    KinectPump(platform::KinectCamera& camera, platform::KinectFrameSink& sink)
        : camera_(camera), sink_(sink) {}
    ~KinectPump() { stop(); }
    KinectPump(const KinectPump&) = delete;
    KinectPump& operator=(const KinectPump&) = delete;

    bool start(std::string& error);
    void stop();
    // The camera has sent its last frame.
    bool ended() const { return ended_.load(); }

  private:
    void run();

    platform::KinectCamera& camera_;
    platform::KinectFrameSink& sink_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> ended_{false};
};

}  // namespace sim::freenect
