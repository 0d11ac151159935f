// Plain data shared by the hand tracker core: depth frames in, hands and gestures out.
// Nothing here depends on OpenNI; the OpenNI wrapper (Orvex.h) maps these onto its C types.
#pragma once

#include <cstdint>

namespace tracker {

struct Vec3 {
    float x = 0.0F;
    float y = 0.0F;
    float z = 0.0F;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float squaredDistance(Vec3 a, Vec3 b) {
    return dot(a - b, a - b);
}

// The running mean of surface points, with the surface area they cover (mm^2).
struct PointMean {
    double x = 0;
    double y = 0;
    double z = 0;
    double area = 0;
    int count = 0;
    void add(const Vec3& p, float pointArea) {
        x += p.x;
        y += p.y;
        z += p.z;
        area += pointArea;
        ++count;
    }
    Vec3 value() const {
        const double n = count > 0 ? count : 1;
        return {static_cast<float>(x / n), static_cast<float>(y / n), static_cast<float>(z / n)};
    }
};

// Largest depth step between two neighbouring samples of one surface `spacing` millimetres
// apart at depth z: the sensor's depth quantisation (about 2.9e-6 z^2) with margin, plus the
// spacing itself for surfaces tilted up to 45 degrees.
inline float surfaceJump(float z, float spacing) {
    const float quantised = 6.0e-6F * z * z;
    return (quantised > 35.0F ? quantised : 35.0F) + spacing;
}

// A borrowed 16-bit depth image in millimetres (0 = no reading). Pixel (u, v) of the full sensor
// image lives at data[(v - originY) * stride + (u - originX)] when it lies inside the
// width x height window starting at (originX, originY); stride is in pixels.
struct DepthView {
    const uint16_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int originX = 0;
    int originY = 0;
};

// Hand state bits. A hand reported with kHandTracked has a usable position. kHandNew marks the
// first frame of a hand (together with kHandTracked); kHandLost is reported exactly once, in
// the frame where the hand is dropped (without kHandTracked); kHandCoasting accompanies
// kHandTracked while the position is predicted because the hand had no support this frame;
// alone, it marks a hand that left the view through the image's edge and is kept where it left
// until it comes back (its position is not to be used).
enum HandStateBits : uint32_t {
    kHandNew = 1,
    kHandTracked = 2,
    kHandLost = 4,
    kHandCoasting = 8,
};

// Gesture types and state bits.
enum GestureType : int32_t {
    kGestureWave = 0,
    kGestureClick = 1,
};
inline constexpr int kGestureTypeCount = 2;

enum GestureStateBits : uint32_t {
    kGestureInProgress = 2,
    kGestureCompleted = 4,
};

// Fixed capacities of one frame's output.
inline constexpr int kMaxHands = 10;
inline constexpr int kMaxGestures = 10;

struct HandReport {
    int16_t id = 0;
    uint32_t state = 0;
    Vec3 position;  // world millimetres, z = distance from the sensor
};

struct GestureReport {
    int32_t type = 0;
    uint32_t state = 0;
    Vec3 position;  // where the hand is at the moment of the report
};

struct TrackerOutput {
    int handCount = 0;
    HandReport hands[kMaxHands];
    int gestureCount = 0;
    GestureReport gestures[kMaxGestures];
};

}  // namespace tracker
