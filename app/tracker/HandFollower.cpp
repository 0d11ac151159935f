#include "app/tracker/HandFollower.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace tracker {

namespace {

enum CellFlags : uint8_t {
    kOutside = 1,   // beyond the image
    kInRegion = 2,  // part of the hand's surface
    kClaimed = 4,   // nearer to another hand
};

}  // namespace

HandFollower::HandFollower(const FollowParams& params) : params_(params) {
    params_.gridSize = std::max(4, params_.gridSize);
    const auto side = static_cast<size_t>(params_.gridSize + 1);
    depth_.resize(side * side);
    flags_.resize(side * side);
    queue_.resize(side * side);
    points_.resize(side * side);
}

FollowResult HandFollower::follow(const DepthView& frame, const Vec3& prediction, bool widened,
                                  const Vec3* others, int otherCount) {
    FollowResult result;
    if (!(prediction.z > 100.0F) || frame.data == nullptr) return result;
    const float radius = widened ? params_.widenedRadius : params_.searchRadius;
    float uc = 0;
    float vc = 0;
    camera_.worldToDepth(prediction.x, prediction.y, prediction.z, &uc, &vc);
    const float rx = camera_.focalX() * radius / prediction.z;
    const float ry = camera_.focalY() * radius / prediction.z;
    const int width = camera_.width();
    const int height = camera_.height();
    if (uc + rx < 0 || vc + ry < 0 || uc - rx >= static_cast<float>(width) ||
        vc - ry >= static_cast<float>(height)) {
        return result;
    }
    const int grid = params_.gridSize;
    const int step = std::max(
        1, static_cast<int>(std::ceil(2.0F * std::max(rx, ry) / static_cast<float>(grid))));
    columns_ = std::min(grid + 1, static_cast<int>(2.0F * rx) / step + 1);
    rows_ = std::min(grid + 1, static_cast<int>(2.0F * ry) / step + 1);
    const int u0 = static_cast<int>(std::floor(uc - rx));
    const int v0 = static_cast<int>(std::floor(vc - ry));

    // Sample the window and decide which samples belong to other hands.
    const float hand2 = params_.handRadius * params_.handRadius;
    const float seedLimit = params_.maxJump * params_.maxJump;
    int seed = -1;
    float seedDistance = seedLimit;
    for (int j = 0; j < rows_; ++j) {
        const int v = v0 + j * step;
        const int fv = v - frame.originY;
        for (int i = 0; i < columns_; ++i) {
            const int u = u0 + i * step;
            const int fu = u - frame.originX;
            const int idx = j * columns_ + i;
            auto& flag = flags_[static_cast<size_t>(idx)];
            auto& z = depth_[static_cast<size_t>(idx)];
            if (u < 0 || v < 0 || u >= width || v >= height) {
                flag = kOutside;
                z = 0;
                continue;
            }
            flag = 0;
            z = (fu >= 0 && fv >= 0 && fu < frame.width && fv < frame.height)
                    ? frame.data[static_cast<std::ptrdiff_t>(fv) * frame.stride + fu]
                    : uint16_t{0};
            if (z == 0) continue;
            const Vec3 p = camera_.depthToWorld(static_cast<float>(u), static_cast<float>(v), z);
            points_[static_cast<size_t>(idx)] = p;
            const float own = squaredDistance(p, prediction);
            for (int k = 0; k < otherCount; ++k) {
                if (squaredDistance(p, others[k]) < own) {
                    flag = kClaimed;
                    break;
                }
            }
            if (flag == 0 && own < seedDistance) {
                seedDistance = own;
                seed = idx;
            }
        }
    }
    if (seed < 0) return result;

    // Grow the surface from the seed; note where it goes on beyond the band or the window.
    const float limit =
        std::max(prediction.z, static_cast<float>(depth_[static_cast<size_t>(seed)])) +
        params_.bandBehind;
    int head = 0;
    int tail = 0;
    queue_[static_cast<size_t>(tail++)] = seed;
    flags_[static_cast<size_t>(seed)] |= kInRegion;
    PointMean attach;
    bool touchesImageEdge = false;
    const float stepMm = static_cast<float>(step) / camera_.focalX();
    while (head < tail) {
        const int c = queue_[static_cast<size_t>(head++)];
        const int i = c % columns_;
        const int j = c / columns_;
        const auto z = static_cast<float>(depth_[static_cast<size_t>(c)]);
        const float jump = surfaceJump(z, z * stepMm);
        bool joins = i == 0 || j == 0 || i == columns_ - 1 || j == rows_ - 1;
        const int neighbours[4] = {i > 0 ? c - 1 : -1, i + 1 < columns_ ? c + 1 : -1,
                                   j > 0 ? c - columns_ : -1, j + 1 < rows_ ? c + columns_ : -1};
        for (const int n : neighbours) {
            if (n < 0) continue;
            const uint8_t flag = flags_[static_cast<size_t>(n)];
            if ((flag & kOutside) != 0) {
                touchesImageEdge = true;
                continue;
            }
            const auto zn = static_cast<float>(depth_[static_cast<size_t>(n)]);
            if (zn == 0 || std::fabs(zn - z) >= jump || (flag & (kInRegion | kClaimed)) != 0) {
                continue;
            }
            if (zn > limit) {
                joins = true;
                continue;
            }
            flags_[static_cast<size_t>(n)] |= kInRegion;
            queue_[static_cast<size_t>(tail++)] = n;
        }
        if (joins) attach.add(points_[static_cast<size_t>(c)], 0.0F);
    }

    // The hand is the end of the surface away from the arm.
    Vec3 centre = prediction;
    if (attach.count > 0) {
        const Vec3 arm = attach.value();
        float farthest = -1.0F;
        for (int k = 0; k < tail; ++k) {
            const Vec3& p = points_[static_cast<size_t>(queue_[static_cast<size_t>(k)])];
            const float d = squaredDistance(p, arm);
            if (d > farthest) {
                farthest = d;
                centre = p;
            }
        }
    }
    const float cellArea = static_cast<float>(step * step);
    PointMean hand;
    for (int pass = 0; pass < 2; ++pass) {
        hand = PointMean();
        for (int k = 0; k < tail; ++k) {
            const Vec3& p = points_[static_cast<size_t>(queue_[static_cast<size_t>(k)])];
            if (squaredDistance(p, centre) <= hand2) hand.add(p, camera_.pixelArea(p.z) * cellArea);
        }
        if (hand.count == 0) return result;
        centre = hand.value();
    }

    result.surface = centre;
    result.area = static_cast<float>(hand.area);
    result.occupancy = result.area / (std::numbers::pi_v<float> * hand2);
    if (touchesImageEdge) {
        float u = 0;
        float v = 0;
        camera_.worldToDepth(centre.x, centre.y, centre.z, &u, &v);
        const float margin = camera_.focalX() * params_.borderMargin / centre.z;
        result.touchesBorder = u < margin || v < margin ||
                               u > static_cast<float>(width - 1) - margin ||
                               v > static_cast<float>(height - 1) - margin;
    }
    result.supported = result.area >= params_.minSupport &&
                       result.occupancy <= params_.maxOccupancy && !result.touchesBorder &&
                       squaredDistance(centre, prediction) <= seedLimit;
    return result;
}

}  // namespace tracker
