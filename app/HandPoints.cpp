#include "app/HandPoints.h"

#include <cstdlib>

void convertHands(const Point3f* positions, int32_t count, float viewScaleX, float viewScaleY,
                  DepthConverter& converter, HandPointSet& set, Point3f* screenPoints) {
    set = HandPointSet{};
    set.count = count;
    for (int32_t i = 0; i < count && i < 20; ++i) {
        float dx = 0.0f;
        float dy = 0.0f;
        converter.worldToDepth(positions[i].x, positions[i].y, positions[i].z, dx, dy);
        screenPoints[i] = Point3f{dx * viewScaleX, dy * viewScaleY, positions[i].z};
        if (i < 3) {
            set.world[i] = positions[i];
            set.depth[i] = Point3f{dx, dy, positions[i].z};
        }
    }
}

int computeHandMidpoint(const DepthFrameView* frame, HandPointSet& set, DepthConverter& converter) {
    if (frame == nullptr || frame->data == nullptr) return 1;
    const Point3f* d = set.depth;
    const Point3f* w = set.world;
    const auto sum = [](float a, float b) {
        return static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(a)) + b);
    };
    const int32_t mx = sum(d[0].x, d[1].x) / 2;
    const int32_t my = sum(d[0].y, d[1].y) / 2;
    const int32_t mz = sum(d[0].z, d[1].z) / 2;
    const int32_t sx = sum(w[0].x, w[1].x);
    const int32_t sy = sum(w[0].y, w[1].y);
    // x and y are tested on their own: a point past the end of a row is
    // outside the image, not on the next row.
    if (mx < 0 || my < 0 || mx >= frame->width || my >= frame->usableRows()) {
        set.depth[2] = Point3f{};
        set.world[2] = Point3f{};
        return 0;
    }
    const int32_t depth = frame->row(my)[mx];
    set.depth[2] =
        Point3f{static_cast<float>(mx), static_cast<float>(my), static_cast<float>(depth)};
    set.world[2].z = static_cast<float>(depth);
    converter.depthToWorld(mx, my, depth, set.world[2].x, set.world[2].y);
    if (std::abs(mz - depth) > 1500) {
        const int32_t halfX = sx / 2;  // whole millimetres, as the depth midpoint
        const int32_t halfY = sy / 2;
        set.world[2].x = static_cast<float>(halfX);
        set.world[2].y = static_cast<float>(halfY);
        set.world[2].z = set.depth[2].z = static_cast<float>(mz + 200);
    }
    return 1;
}
