// Small geometry helpers of the virtual depth sensor: world vectors and the
// depth camera's projection, which is exactly OpenNI 2's own conversion.
//
// World coordinates are millimetres: x to the right, y up, z away from the
// sensor (planar depth, not radial distance). A depth pixel (u, v) with depth
// z maps to the world as
//   x = (u / width - 0.5) * z * xzFactor,  y = (0.5 - v / height) * z * yzFactor
// with xzFactor = 2 tan(hfov / 2) and yzFactor = 2 tan(vfov / 2); pixel (i, j)
// of an image is the ray through (u, v) = (i, j), without a half-pixel offset.
#pragma once

#include <cmath>

namespace sim {

struct Vec3 {
    float x = 0, y = 0, z = 0;
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
inline float length(Vec3 a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The depth camera's image size and field of view, with OpenNI 2's conversion.
struct Projection {
    int width = 320;
    int height = 240;
    float hfov = 1.01404f;  // radians (58.1 degrees)
    float vfov = 0.79063f;  // radians (45.3 degrees)

    float xzFactor() const { return 2.0f * std::tan(hfov / 2.0f); }
    float yzFactor() const { return 2.0f * std::tan(vfov / 2.0f); }
    // Focal lengths in pixels: a length L at depth z spans L * focal / z pixels.
    float focalX() const { return static_cast<float>(width) / xzFactor(); }
    float focalY() const { return static_cast<float>(height) / yzFactor(); }

    // World point to depth-image coordinates (u, v); z must be positive. The optical centre
    // is width / 2, height / 2 in whole pixels: exact for the even sizes sensors have, rounded
    // down for odd ones.
    void worldToDepth(Vec3 p, float& u, float& v) const {
        u = focalX() * p.x / p.z +
            static_cast<float>(width / 2);  // NOLINT(bugprone-integer-division)
        v = static_cast<float>(height / 2)  // NOLINT(bugprone-integer-division)
            - focalY() * p.y / p.z;
    }
    Vec3 depthToWorld(float u, float v, float z) const {
        return {(u / static_cast<float>(width) - 0.5f) * z * xzFactor(),
                (0.5f - v / static_cast<float>(height)) * z * yzFactor(), z};
    }
};

}  // namespace sim
