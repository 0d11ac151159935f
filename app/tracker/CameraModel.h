// Pinhole model of a depth stream as OpenNI 2 describes it: resolution and field of view.
// The conversions follow OpenNI 2's own converter operation by operation (float arithmetic,
// integer half resolution, no half-pixel offset), so results match oniCoordinateConverter*.
#pragma once

#include "app/tracker/TrackerTypes.h"

namespace tracker {

class CameraModel {
  public:
    CameraModel() : CameraModel(320, 240, kDefaultHorizontalFov, kDefaultVerticalFov) {}
    // Fields of view in radians.
    CameraModel(int width, int height, float horizontalFov, float verticalFov);

    // World millimetres (y up, z = planar distance) to depth-image pixels.
    void worldToDepth(float x, float y, float z, float* u, float* v) const {
        *u = coeffX_ * x / z + static_cast<float>(halfResX_);
        *v = static_cast<float>(halfResY_) - coeffY_ * y / z;
    }
    // Depth-image pixel (u, v) at depth z millimetres to world x and y.
    void depthToWorld(float u, float v, float z, float* x, float* y) const {
        const float nx = u / static_cast<float>(width_) - 0.5F;
        const float ny = 0.5F - v / static_cast<float>(height_);
        *x = nx * z * xzFactor_;
        *y = ny * z * yzFactor_;
    }
    Vec3 depthToWorld(float u, float v, float z) const {
        Vec3 p{0.0F, 0.0F, z};
        depthToWorld(u, v, z, &p.x, &p.y);
        return p;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    float horizontalFov() const { return horizontalFov_; }
    float verticalFov() const { return verticalFov_; }
    // Pixels per unit of x / z (the focal length in pixels), horizontally and vertically.
    float focalX() const { return coeffX_; }
    float focalY() const { return coeffY_; }
    float xzFactor() const { return xzFactor_; }
    float yzFactor() const { return yzFactor_; }
    // Area in mm^2 that one pixel covers at depth z.
    float pixelArea(float z) const { return (z / coeffX_) * (z / coeffY_); }

    static constexpr float kDefaultHorizontalFov = 1.0144686707507438F;  // 58.1 degrees
    static constexpr float kDefaultVerticalFov = 0.7898094344964471F;    // 45.3 degrees

  private:
    int width_;
    int height_;
    float horizontalFov_;
    float verticalFov_;
    float xzFactor_;
    float yzFactor_;
    float coeffX_;
    float coeffY_;
    int halfResX_;
    int halfResY_;
};

}  // namespace tracker
