// What the Kinect driver does to each frame, free of OpenNI and libfreenect:
// the depth modes it offers, raw disparity to millimetres, 320 x 240 made
// from 640 x 480, mirroring, and frame indices and time stamps from the
// camera's clock.
#pragma once

#include <array>
#include <cstdint>
#include <numbers>
#include <vector>

#include "platform/KinectBus.h"

namespace sim::freenect {

struct DepthMode {
    int width;
    int height;
    int fps;
};

// The first is the default.
inline constexpr std::array<DepthMode, 2> kDepthModes{{{640, 480, 30}, {320, 240, 30}}};

inline constexpr float kHorizontalFov = static_cast<float>(58.5 * std::numbers::pi / 180);
inline constexpr float kVerticalFov = static_cast<float>(45.6 * std::numbers::pi / 180);
inline constexpr int kMinDepth = 0;
inline constexpr int kMaxDepth = 10000;  // mm; farther readings count as none (0)
inline constexpr uint16_t kNoRawReading = 2047;

bool offered(int width, int height, int fps);

// libfreenect's approximation, 1000 / (raw * -0.0030711016 + 3.3309495161)
// mm rounded; 0 for 2047 (no reading) and for values beyond kMaxDepth.
uint16_t rawToMillimetres(uint16_t raw);
// The raw value whose depth is nearest to `mm`; kNoRawReading for 0.
uint16_t millimetresToRaw(uint16_t mm);

class DepthConverter {
  public:
    DepthConverter();

    // Converts one 640 x 480 camera frame into `width` x `height` (an offered
    // mode: 640 x 480, else 320 x 240) millimetres at `out`, mirrored left to
    // right when asked. 320 x 240 takes every other pixel of every other row.
    void convert(const void* in, platform::KinectDepthUnit unit, int width, int height, bool mirror,
                 uint16_t* out) const;

  private:
    // Millimetres for every 16-bit value, so that no reading needs a bounds
    // check: values past 2046 (none, or not raw) give 0.
    std::vector<uint16_t> table_;
};

// Turns the camera's 60 MHz clock, which wraps every 71.6 s, into time
// stamps in microseconds from the first frame and frame indices from 1 that
// skip the frames the camera dropped.
class DeviceClock {
  public:
    static constexpr double kTicksPerMicrosecond = 60.0;
    static constexpr double kTicksPerFrame = 2002155.0;  // 33.37 ms, as Kinects record

    struct Stamp {
        uint64_t timestamp;
        int frameIndex;
    };
    Stamp next(uint32_t ticks);
    void reset() { started_ = false; }

  private:
    bool started_ = false;
    uint32_t last_ = 0;
    uint64_t elapsed_ = 0;
    int index_ = 0;
};

}  // namespace sim::freenect
