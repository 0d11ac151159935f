#include "sim/freenect/KinectPump.h"

#include <system_error>

namespace sim::freenect {

namespace {
// How long one wait for events lasts: the longest stop() waits for the loop.
constexpr int kPumpTimeoutMs = 100;
}  // namespace

bool KinectPump::start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!camera_.startDepth(sink_, error)) return false;
    quit_ = false;
    ended_ = false;
    try {
        thread_ = std::thread(&KinectPump::run, this);
    } catch (const std::system_error& e) {
        camera_.stopDepth();
        error = std::string("cannot start the Kinect's event thread: ") + e.what();
        return false;
    }
    return true;
}

void KinectPump::stop() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
}

void KinectPump::run() {
    while (!quit_.load()) {
        if (camera_.pump(kPumpTimeoutMs) == platform::PumpResult::kEnded) {
            ended_ = true;
            break;
        }
    }
    camera_.stopDepth();
}

}  // namespace sim::freenect
