#include "app/tracker/HandFollower.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <numbers>

namespace tracker {

namespace {

enum CellFlags : uint8_t {
    kOutside = 1,   // beyond the image
    kInRegion = 2,  // part of the hand's surface
    kClaimed = 4,   // nearer to another hand
    kStatic = 8,    // the background there (see Background)
};

uint16_t sampleAt(const DepthView& frame, int fu, int fv) {
    return (fu >= 0 && fv >= 0 && fu < frame.width && fv < frame.height)
               ? frame.data[static_cast<std::ptrdiff_t>(fv) * frame.stride + fu]
               : uint16_t{0};
}

constexpr int kFillJump = 30;  // mm: readings either side of a gap this close are one surface

// A missing reading inside a surface: the mean of the readings `d` pixels to either side when
// they lie on one surface; 0 when they do not (the gap is at the surface's edge).
uint16_t fillGap(const DepthView& frame, int fu, int fv, int du, int dv) {
    const int a = sampleAt(frame, fu - du, fv - dv);
    const int b = sampleAt(frame, fu + du, fv + dv);
    if (a == 0 || b == 0 || std::abs(a - b) > kFillJump) return 0;
    return static_cast<uint16_t>((a + b) / 2);
}

}  // namespace

HandFollower::HandFollower(const FollowParams& params) : params_(params) {
    params_.gridSize = std::max(4, params_.gridSize);
    const auto side = static_cast<size_t>(params_.gridSize + 1);
    depth_.resize(side * side);
    flags_.resize(side * side);
    inside_.resize(side * side);
    queue_.resize(side * side);
    points_.resize(side * side);
}

FollowResult HandFollower::follow(const DepthView& frame, const Vec3& prediction, bool widened,
                                  float interval, const Vec3* others, int otherCount, float speed) {
    const float dt = std::max(0.0F, interval);
    const float reach = std::max(params_.maxJump, params_.maxSpeed * dt);
    const float radius = widened ? params_.widenedRadius : params_.searchRadius;
    Search s = search(frame, prediction, radius, reach, others, otherCount);
    // A fast hand that turns between two frames is up to its own travel per frame away from
    // the prediction (it was predicted to go on); such a hand is looked for that much further.
    const float lead = std::isfinite(speed) ? speed * dt : 0.0F;
    const bool outrun = !s.result.supported && lead >= params_.minLead;
    if (s.ambiguous || outrun) {
        const float extra = outrun ? lead : 0.0F;
        const float wide = reach + extra + params_.searchRadius;
        if (wide > radius) {
            const Search second =
                search(frame, prediction, wide, reach + extra, others, otherCount);
            if (!second.ambiguous || (outrun && !s.ambiguous && second.result.supported)) {
                s = second;
            }
        }
    }
    return s.result;
}

int HandFollower::windowExits() const {
    // Walk the window's edge once around; runs of surface cells separated by more than
    // `exitGap` other cells are separate exits.
    const int perimeter = 2 * (columns_ + rows_) - 4;
    if (columns_ < 2 || rows_ < 2) return 0;
    auto cellAt = [&](int k) {
        if (k < columns_) return k;  // top, left to right
        k -= columns_;
        if (k < rows_ - 1) return (k + 1) * columns_ + columns_ - 1;  // right, downwards
        k -= rows_ - 1;
        if (k < columns_ - 1) return (rows_ - 1) * columns_ + columns_ - 2 - k;  // bottom
        k -= columns_ - 1;
        return (rows_ - 2 - k) * columns_;  // left, upwards
    };
    auto on = [&](int k) { return (flags_[static_cast<size_t>(cellAt(k))] & kInRegion) != 0; };
    int start = -1;
    for (int k = 0; k < perimeter && start < 0; ++k) {
        if (!on(k)) start = k;
    }
    if (start < 0) return 1;  // the surface covers the whole edge
    int exits = 0;
    int gap = params_.exitGap + 1;
    for (int n = 1; n <= perimeter; ++n) {
        if (on((start + n) % perimeter)) {
            if (gap > params_.exitGap) ++exits;
            gap = 0;
        } else {
            ++gap;
        }
    }
    return exits;
}

void HandFollower::distanceToOutline(int cells) {
    // Two-pass 3-4 chamfer distance; cells beyond the window count as outside the surface.
    constexpr uint16_t kFar = 60000;
    auto in = [&](int c) { return (flags_[static_cast<size_t>(c)] & kInRegion) != 0; };
    for (int c = 0; c < cells; ++c) {
        const bool inside = in(c);
        inside_[static_cast<size_t>(c)] = inside ? kFar : uint16_t{0};
    }
    auto at = [&](int i, int j) -> int {
        if (i < 0 || j < 0 || i >= columns_ || j >= rows_) return 0;
        return inside_[static_cast<size_t>(j * columns_ + i)];
    };
    for (int j = 0; j < rows_; ++j) {
        for (int i = 0; i < columns_; ++i) {
            uint16_t& d = inside_[static_cast<size_t>(j * columns_ + i)];
            if (d == 0) continue;
            const int best = std::min({at(i - 1, j) + 3, at(i, j - 1) + 3, at(i - 1, j - 1) + 4,
                                       at(i + 1, j - 1) + 4, static_cast<int>(d)});
            d = static_cast<uint16_t>(best);
        }
    }
    for (int j = rows_ - 1; j >= 0; --j) {
        for (int i = columns_ - 1; i >= 0; --i) {
            uint16_t& d = inside_[static_cast<size_t>(j * columns_ + i)];
            if (d == 0) continue;
            const int best = std::min({at(i + 1, j) + 3, at(i, j + 1) + 3, at(i + 1, j + 1) + 4,
                                       at(i - 1, j + 1) + 4, static_cast<int>(d)});
            d = static_cast<uint16_t>(best);
        }
    }
}

HandFollower::Search HandFollower::search(const DepthView& frame, const Vec3& prediction,
                                          float radius, float reach, const Vec3* others,
                                          int otherCount) {
    const Search out;
    if (!(prediction.z > 100.0F) || frame.data == nullptr) return out;
    float uc = 0;
    float vc = 0;
    camera_.worldToDepth(prediction.x, prediction.y, prediction.z, &uc, &vc);
    const float rx = camera_.focalX() * radius / prediction.z;
    const float ry = camera_.focalY() * radius / prediction.z;
    const int width = camera_.width();
    const int height = camera_.height();
    if (uc + rx < 0 || vc + ry < 0 || uc - rx >= static_cast<float>(width) ||
        vc - ry >= static_cast<float>(height)) {
        return out;
    }
    const int grid = params_.gridSize;
    const int step = std::max(
        1, static_cast<int>(std::ceil(2.0F * std::max(rx, ry) / static_cast<float>(grid))));
    columns_ = std::min(grid + 1, static_cast<int>(2.0F * rx) / step + 1);
    rows_ = std::min(grid + 1, static_cast<int>(2.0F * ry) / step + 1);
    const int u0 = static_cast<int>(std::floor(uc - rx));
    const int v0 = static_cast<int>(std::floor(vc - ry));

    // Sample the window and decide which samples belong to other hands.
    const int bridge = std::min(2, step / 3);
    const float seedLimit = reach * reach;
    const float frontShare2 = params_.frontShare * params_.frontShare;
    int seed = -1;  // nearest the prediction
    float seedDistance = seedLimit;
    int moving = -1;  // nearest the prediction among samples in front of the background
    float movingDistance = seedLimit;
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
            z = sampleAt(frame, fu, fv);
            // A drop-out inside a surface is filled from the readings either side of it; one
            // along its outline (the depth edge) is not, so the outline stays where it is.
            if (z == 0 && bridge > 0) z = fillGap(frame, fu, fv, bridge, 0);
            if (z == 0 && bridge > 0) z = fillGap(frame, fu, fv, 0, bridge);
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
            if (flag != 0) continue;
            // The hand is the arm's nearest end: a sample in front of the prediction is taken
            // before one as far behind it (a hand pushed faster than predicted hides its
            // forearm, which then lies nearer to the prediction than the hand does).
            const float ahead = std::min(0.0F, p.z - prediction.z);
            const float score = own - (1.0F - frontShare2) * ahead * ahead;
            if (score < seedDistance) {
                seedDistance = score;
                seed = idx;
            }
            if (background_ != nullptr && background_->isBackground(u, v, z)) {
                flag = kStatic;
            } else if (score < movingDistance) {
                movingDistance = score;
                moving = idx;
            }
        }
    }
    // A hand that stands out from the background is kept apart from it: a hand lowered onto a
    // desk is not grown into the desk top. A hand that is background itself (held still since
    // before its pixels ever saw what is behind it), or that has no support apart from it, is
    // grown as if there were no background.
    if (moving >= 0) {
        Search apart = grow(moving, true, prediction, seedLimit, step);
        if (apart.result.supported) return apart;
        for (int c = 0; c < columns_ * rows_; ++c) {
            flags_[static_cast<size_t>(c)] &= static_cast<uint8_t>(~kInRegion);
        }
    }
    if (seed < 0) return out;
    return grow(seed, false, prediction, seedLimit, step);
}

HandFollower::Search HandFollower::grow(int seed, bool apart, const Vec3& prediction,
                                        float seedLimit, int step) {
    Search out;
    FollowResult& result = out.result;
    const int width = camera_.width();
    const int height = camera_.height();
    const float hand2 = params_.handRadius * params_.handRadius;
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
        for (int n : neighbours) {
            if (n < 0) continue;
            uint8_t flag = flags_[static_cast<size_t>(n)];
            if ((flag & kOutside) != 0) {
                touchesImageEdge = true;
                continue;
            }
            if (depth_[static_cast<size_t>(n)] == 0) {
                // A drop-out (a line of missing readings across the hand): the surface goes on
                // when the cell beyond it continues it.
                const int beyond = n + (n - c);
                const bool inWindow = (n - c == 1 || n - c == -1)
                                          ? (beyond / columns_ == j && beyond >= 0)
                                          : (beyond >= 0 && beyond < columns_ * rows_);
                if (!inWindow) continue;
                n = beyond;
                flag = flags_[static_cast<size_t>(n)];
                if ((flag & kOutside) != 0) continue;
            }
            const auto zn = static_cast<float>(depth_[static_cast<size_t>(n)]);
            if (zn == 0 || std::fabs(zn - z) >= jump || (flag & (kInRegion | kClaimed)) != 0 ||
                (apart && (flag & kStatic) != 0)) {
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
    out.ambiguous = windowExits() > 1;

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
        if (hand.count == 0) return out;
        centre = hand.value();
    }

    // The palm: the hand cell deepest inside the surface's outline, nearest the hand's mean
    // among equals; its disc's mean is the reported point.
    distanceToOutline(columns_ * rows_);
    int palmCell = -1;
    int palmDepth = 0;
    float palmNear = 0;
    for (int k = 0; k < tail; ++k) {
        const int c = queue_[static_cast<size_t>(k)];
        const Vec3& p = points_[static_cast<size_t>(c)];
        const float d = squaredDistance(p, centre);
        if (d > hand2) continue;
        const int inside = inside_[static_cast<size_t>(c)];
        if (inside > palmDepth || (inside == palmDepth && d < palmNear)) {
            palmCell = c;
            palmDepth = inside;
            palmNear = d;
        }
    }
    if (palmCell >= 0) {
        // The mean of the hand's surface within the hand's radius of `centre`, each sample
        // weighted by how far inside the outline it lies (nothing within `fingerRadius`, full
        // weight from `coreDepth` further in): fingers count little or nothing. It is not
        // re-centred on itself, which would let it walk down a forearm as wide as the palm (a
        // sleeve) frame by frame. Where it moves the point very little, the plain mean
        // `centre` is kept, which the outline's noise moves least; beyond `thinPull` the
        // weighted mean takes over smoothly.
        Vec3 middle = centre;
        PointMean palm;
        double weights = 0;
        for (int k = 0; k < tail; ++k) {
            const int c = queue_[static_cast<size_t>(k)];
            const Vec3& p = points_[static_cast<size_t>(c)];
            if (squaredDistance(p, centre) > hand2) continue;
            const float insideMm =
                static_cast<float>(inside_[static_cast<size_t>(c)]) / 3.0F * p.z * stepMm;
            const float weight =
                std::clamp(insideMm - params_.fingerRadius, 0.0F, params_.coreDepth);
            palm.x += static_cast<double>(p.x * weight);
            palm.y += static_cast<double>(p.y * weight);
            palm.z += static_cast<double>(p.z * weight);
            weights += weight;
        }
        if (weights > 0) {
            middle =
                Vec3{static_cast<float>(palm.x / weights), static_cast<float>(palm.y / weights),
                     static_cast<float>(palm.z / weights)};
        }
        const float pull = std::sqrt(squaredDistance(middle, centre));
        const float share = std::clamp((pull - params_.thinPull) / params_.thinPull, 0.0F, 1.0F);
        middle = centre + (middle - centre) * share;
        result.surface = middle;
        // A palm whose disc reaches the window's edge may go on beyond it.
        const int r = palmDepth / 3;
        const int i = palmCell % columns_;
        const int j = palmCell / columns_;
        if (i - r < 1 || j - r < 1 || i + r > columns_ - 2 || j + r > rows_ - 2) {
            out.ambiguous = true;
        }
    } else {
        result.surface = centre;
    }
    result.area = static_cast<float>(hand.area);
    result.occupancy = result.area / (std::numbers::pi_v<float> * hand2);
    if (touchesImageEdge) {
        float u = 0;
        float v = 0;
        camera_.worldToDepth(result.surface.x, result.surface.y, result.surface.z, &u, &v);
        const float margin = camera_.focalX() * params_.borderMargin / result.surface.z;
        result.touchesBorder = u < margin || v < margin ||
                               u > static_cast<float>(width - 1) - margin ||
                               v > static_cast<float>(height - 1) - margin;
    }
    result.supported = result.area >= params_.minSupport &&
                       result.occupancy <= params_.maxOccupancy && !result.touchesBorder &&
                       squaredDistance(result.surface, prediction) <= seedLimit;
    return out;
}

}  // namespace tracker
