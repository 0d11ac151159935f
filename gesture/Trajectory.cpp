#include "gesture/Trajectory.h"

#include <cmath>
#include <cstdlib>

#include "gesture/GestureFeatures.h"

namespace gesture {

namespace {

// Millimetres per centimetre and the frame rate the stroke units assume; the
// speed scale stays at 30 frames per second whatever the sensor delivers.
constexpr float kMmPerCm = 10.0f;
constexpr float kFramesPerSecond = 30.0f;

}  // namespace

Magnitude largestMagnitude(const float* values, int32_t count) {
    Magnitude best;
    for (int32_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(values[i]);
        if (i == 0 || magnitude > best.value) {
            best.value = magnitude;
            best.index = i;
        }
    }
    return best;
}

void Trajectory::clear() {
    strokeClass_ = 0;
    pointCount_ = 0;
    width_ = 0;
    height_ = 0;
    depthExtent_ = 0;
    xDirection_ = 0;
    writeIndex_ = 0;
    directionHistogram_.fill(0.0f);
    points_.fill(Point3i{});
    velocities_.fill(Velocity{});
}

void Trajectory::appendPoint(const Point3i& p) {
    points_[writeIndex_] = p;
    writeIndex_ = writeIndex_ + 1 == kCapacity ? 0 : writeIndex_ + 1;
    pointCount_ = writeIndex_;
}

MotionSample Trajectory::analyseMotion() {
    const int32_t i = writeIndex_ - 1;
    if (i <= 0) {
        return {};
    }

    const Point3i& current = points_[i];
    const Point3i& previous = points_[i - 1];
    const float stepX = static_cast<float>(current.x - previous.x) / kMmPerCm;
    const float stepY = static_cast<float>(current.y - previous.y) / kMmPerCm;
    const float stepZ = static_cast<float>(current.z - previous.z) / kMmPerCm;

    MotionSample sample;
    sample.speed = std::sqrt(stepX * stepX + stepY * stepY) * kFramesPerSecond;

    const float velocity[3] = {stepX * kFramesPerSecond, stepY * kFramesPerSecond,
                               stepZ * kFramesPerSecond};
    const Velocity& before = velocities_[i - 1];
    const float acceleration[3] = {(velocity[0] - before.x) * kFramesPerSecond,
                                   (velocity[1] - before.y) * kFramesPerSecond,
                                   (velocity[2] - before.z) * kFramesPerSecond};
    velocities_[i] = {velocity[0], velocity[1], velocity[2]};
    sample.peakAcceleration = largestMagnitude(acceleration, 3).value;

    // Bins 1..6 are +x, -x, +y, -y, +z, -z; a zero component counts as negative.
    const int32_t axis = largestMagnitude(velocity, 3).index;
    directionHistogram_[2 * axis + (velocity[axis] > 0.0f ? 1 : 2)] += 1.0f;
    sample.direction = largestMagnitude(directionHistogram_.data(), kHistogramBins).index;
    return sample;
}

void Trajectory::measureStroke() {
    const Point3i& first = points_[0];
    int32_t minX = first.x, maxX = first.x, minXAt = 0, maxXAt = 0;
    int32_t minY = first.y, maxY = first.y;
    int32_t minZ = first.z, maxZ = first.z;
    for (int32_t i = 1; i < pointCount_; ++i) {
        const Point3i& p = points_[i];
        if (p.x < minX) {
            minX = p.x;
            minXAt = i;
        }
        if (p.x > maxX) {
            maxX = p.x;
            maxXAt = i;
        }
        if (p.y < minY) {
            minY = p.y;
        }
        if (p.y > maxY) {
            maxY = p.y;
        }
        if (p.z != 0) {  // a point without depth says nothing about z
            if (p.z < minZ) {
                minZ = p.z;
            }
            if (p.z > maxZ) {
                maxZ = p.z;
            }
        }
    }
    width_ = maxX - minX;
    height_ = maxY - minY;
    depthExtent_ = std::abs(maxZ - minZ);
    if (maxXAt > minXAt) {
        xDirection_ = 1;
    } else if (maxXAt < minXAt) {
        xDirection_ = 2;
    }
}

int32_t Trajectory::classifyStroke() {
    measureStroke();
    const int32_t w = width_;
    const int32_t h = height_;
    const int32_t d = depthExtent_;
    const float wf = w == 0 ? 0.1f : static_cast<float>(w);
    const float hf = h == 0 ? 0.1f : static_cast<float>(h);
    const float df = d == 0 ? 0.1f : static_cast<float>(d);
    const float ratio = wf / hf;

    // Later rules win over earlier ones.
    int32_t result = StrokeClass::NONE;
    if (w > 50 && h > 50 && static_cast<int64_t>(w) * h > 2500 && ratio > 0.6f && ratio < 1.4f) {
        result = xDirection_ == 1 ? StrokeClass::CIRCULAR_MAX_AFTER_MIN : StrokeClass::CIRCULAR;
    }
    const bool planarExtent = (w > 30 || h > 30) && d < 250;
    if (planarExtent && ratio > 2.0f) {
        result = StrokeClass::HORIZONTAL;
    }
    if (planarExtent && ratio < 0.5f) {
        result = StrokeClass::VERTICAL;
    }
    if (w < 100 && h < 100 && d >= 20) {
        const float depthRatio = ratio > 1.0f ? df / wf : df / hf;
        if (depthRatio > 2.0f) {
            result = StrokeClass::DEPTH;
        }
    }
    if (pointCount_ < 5) {
        result = StrokeClass::NONE;
    }
    strokeClass_ = result;
    return result;
}

}  // namespace gesture
