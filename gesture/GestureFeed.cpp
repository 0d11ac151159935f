#include "gesture/GestureFeed.h"

#include <algorithm>
#include <cmath>

namespace gesture {

namespace {

// Depth-image pixels as whole numbers; garbage becomes 0 rather than overflow.
int32_t toPixel(float v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(v, -1.0e6f, 1.0e6f));
}

}  // namespace

GestureFeed::GestureFeed(platform::Desktop& desktop)
    : manager_(std::make_unique<GestureManager>(desktop)) {}

int32_t GestureFeed::feedHandPoints(std::span<const Point3f, 3> depth,
                                    std::span<const Point3f, 3> world, int32_t count,
                                    FeedbackState& state) {
    // Two or more hands bring their midpoint as entry 2.
    const int32_t n = count < 2 ? count : 3;
    for (int32_t i = 0; i < n; ++i) {
        depthPoints_[i] = {toPixel(depth[i].x), toPixel(depth[i].y), toPixel(depth[i].z)};
        worldPoints_[i] = world[i];
    }
    manager_->processFrame(worldPoints_, count, state);
    return 1;
}

}  // namespace gesture
