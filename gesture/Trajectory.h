// The stroke the tracked hand has drawn since it last stood still: its points,
// per-point velocities and a histogram of step directions, with the motion
// analysis and the shape classification the recognisers read.
#pragma once

#include <array>
#include <cstdint>

#include "gesture/Point3.h"

namespace gesture {

// The largest absolute value of values[0..count) and the index of its first
// occurrence, so ties go to the lowest index. An empty range gives {0, 0}.
struct Magnitude {
    float value = 0.0f;
    int32_t index = 0;
};
Magnitude largestMagnitude(const float* values, int32_t count);

struct MotionSample {
    float speed = 0.0f;             // cm/s in the x-y plane
    float peakAcceleration = 0.0f;  // cm/s^2, largest absolute component
    int32_t direction = 0;          // dominant direction so far (Direction codes)
};

class Trajectory {
  public:
    static constexpr int32_t kCapacity = 1000;
    static constexpr int32_t kHistogramBins = 7;

    Trajectory() { clear(); }

    // Forgets the stroke: every point, velocity and bin back to 0.
    void clear();
    // Stores p; the write index wraps after kCapacity points, and from then
    // on classification only sees the points stored since the wrap.
    void appendPoint(const Point3i& p);
    // Speed, acceleration and direction of the last stored step (before the
    // current point is appended). Fewer than two stored points give zeros.
    MotionSample analyseMotion();
    // Extents of the stored stroke and the order of its x extremes.
    void measureStroke();
    // Measures and classifies the stroke (StrokeClass codes); stores the class.
    int32_t classifyStroke();

    int32_t strokeClass() const { return strokeClass_; }
    int32_t pointCount() const { return pointCount_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t depthExtent() const { return depthExtent_; }
    int32_t xDirection() const { return xDirection_; }
    int32_t writeIndex() const { return writeIndex_; }
    float histogramBin(int32_t direction) const { return directionHistogram_[direction]; }

  private:
    struct Velocity {
        float x = 0.0f;
        float y = 0.0f;
        float z = 0.0f;
    };

    int32_t strokeClass_ = 0;
    int32_t pointCount_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t depthExtent_ = 0;
    int32_t xDirection_ = 0;  // 1: max x after min x, 2: before, 0: unknown
    int32_t writeIndex_ = 0;
    std::array<float, kHistogramBins> directionHistogram_{};
    std::array<Point3i, kCapacity> points_{};
    std::array<Velocity, kCapacity> velocities_{};
};

}  // namespace gesture
