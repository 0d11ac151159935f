#include "app/tracker/CandidateFinder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tracker {

namespace {

constexpr int kBucketMm = 8;  // depth resolution of the nearest-first order

struct Accumulator {
    double sumX = 0;
    double sumY = 0;
    double sumZ = 0;
    double area = 0;
    int count = 0;
    void add(const Vec3& p, float pixelArea) {
        sumX += p.x;
        sumY += p.y;
        sumZ += p.z;
        area += pixelArea;
        ++count;
    }
    Vec3 mean() const {
        const double n = count > 0 ? count : 1;
        return {static_cast<float>(sumX / n), static_cast<float>(sumY / n),
                static_cast<float>(sumZ / n)};
    }
};

}  // namespace

CandidateFinder::CandidateFinder(const CandidateParams& params) : params_(params) {
    configure(CameraModel());
}

void CandidateFinder::configure(const CameraModel& camera) {
    camera_ = camera;
    step_ = std::max(1, camera.width() / std::max(1, params_.gridColumns));
    gridWidth_ = camera.width() / step_;
    gridHeight_ = camera.height() / step_;
    const auto cells = static_cast<size_t>(gridWidth_) * static_cast<size_t>(gridHeight_);
    depth_.assign(cells, 0);
    label_.assign(cells, 0);
    order_.assign(cells, 0);
    queue_.assign(cells, 0);
    columnFactor_.resize(static_cast<size_t>(gridWidth_));
    rowFactor_.resize(static_cast<size_t>(gridHeight_));
    for (int gx = 0; gx < gridWidth_; ++gx) {
        const float u = static_cast<float>(gx * step_ + step_ / 2);
        columnFactor_[static_cast<size_t>(gx)] =
            (u / static_cast<float>(camera.width()) - 0.5F) * camera.xzFactor();
    }
    for (int gy = 0; gy < gridHeight_; ++gy) {
        const float v = static_cast<float>(gy * step_ + step_ / 2);
        rowFactor_[static_cast<size_t>(gy)] =
            (0.5F - v / static_cast<float>(camera.height())) * camera.yzFactor();
    }
    const int buckets = static_cast<int>(params_.maxDepth) / kBucketMm + 2;
    bucketStart_.assign(static_cast<size_t>(buckets) + 1, 0);
    jumpTable_.resize(static_cast<size_t>(buckets));
    for (int b = 0; b < buckets; ++b) {
        const float z = static_cast<float>(b * kBucketMm);
        jumpTable_[static_cast<size_t>(b)] = jumpAt(z);
    }
}

float CandidateFinder::jumpAt(float z) const {
    return surfaceJump(z, z * static_cast<float>(step_) / camera_.focalX());
}

void CandidateFinder::sampleGrid(const DepthView& frame) {
    const auto minDepth = static_cast<uint16_t>(params_.minDepth);
    const auto maxDepth = static_cast<uint16_t>(params_.maxDepth);
    const int half = step_ / 2;
    for (int gy = 0; gy < gridHeight_; ++gy) {
        uint16_t* out = depth_.data() + static_cast<size_t>(gy) * static_cast<size_t>(gridWidth_);
        const int v = gy * step_ + half - frame.originY;
        if (frame.data == nullptr || v < 0 || v >= frame.height) {
            std::fill(out, out + gridWidth_, uint16_t{0});
            continue;
        }
        const uint16_t* row = frame.data + static_cast<std::ptrdiff_t>(v) * frame.stride;
        for (int gx = 0; gx < gridWidth_; ++gx) {
            const int u = gx * step_ + half - frame.originX;
            uint16_t z = 0;
            if (u >= 0 && u < frame.width) z = row[u];
            out[gx] = (z >= minDepth && z <= maxDepth) ? z : uint16_t{0};
        }
    }
}

int CandidateFinder::find(const DepthView& frame, Candidate* out, int capacity) {
    sampleGrid(frame);
    const int cells = gridWidth_ * gridHeight_;
    std::fill(label_.begin(), label_.end(), 0);

    // Counting sort of the valid cells by depth, nearest first.
    std::fill(bucketStart_.begin(), bucketStart_.end(), 0);
    for (int i = 0; i < cells; ++i) {
        const uint16_t z = depth_[static_cast<size_t>(i)];
        if (z != 0) ++bucketStart_[static_cast<size_t>(z / kBucketMm) + 1];
    }
    for (size_t b = 1; b < bucketStart_.size(); ++b) bucketStart_[b] += bucketStart_[b - 1];
    const int valid = bucketStart_.back();
    for (int i = 0; i < cells; ++i) {
        const uint16_t z = depth_[static_cast<size_t>(i)];
        if (z != 0) order_[static_cast<size_t>(bucketStart_[z / kBucketMm]++)] = i;
    }

    int count = 0;
    int label = 0;
    const int limit = std::min(capacity, kMaxCandidates);
    const auto farthestSeed = static_cast<uint16_t>(params_.maxCandidateDepth);
    for (int k = 0; k < valid; ++k) {
        const int seed = order_[static_cast<size_t>(k)];
        // Regions seeded farther away could only give candidates beyond the limit.
        if (depth_[static_cast<size_t>(seed)] > farthestSeed) break;
        if (label_[static_cast<size_t>(seed)] != 0) continue;
        Candidate candidate;
        if (growRegion(seed, ++label, &candidate) && count < limit) out[count++] = candidate;
    }

    // Drop candidates right behind a nearer one: the elbow or shoulder of a hand reaching out.
    const float lateral2 = params_.behindLateral * params_.behindLateral;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        bool behind = false;
        for (int j = 0; j < count && !behind; ++j) {
            const Vec3 d = out[i].position - out[j].position;
            behind = d.z >= params_.behindDepth && d.x * d.x + d.y * d.y < lateral2;
        }
        if (!behind) out[kept++] = out[i];
    }
    return kept;
}

bool CandidateFinder::growRegion(int seed, int label, Candidate* candidate) {
    const auto seedZ = static_cast<float>(depth_[static_cast<size_t>(seed)]);
    const float limit = seedZ + params_.band;
    const float gap = params_.isolationGap;
    int head = 0;
    int tail = 0;
    queue_[static_cast<size_t>(tail++)] = seed;
    label_[static_cast<size_t>(seed)] = label;

    bool touchesEarlier = false;
    int freeEdges = 0;
    int boundEdges = 0;
    Accumulator joins;  // cells where the region continues beyond its band
    int minX = gridWidth_, maxX = -1, minY = gridHeight_, maxY = -1;
    const int w = gridWidth_;

    auto visit = [&](int n, float z, float jump, bool& joined) {
        const auto zn = static_cast<float>(depth_[static_cast<size_t>(n)]);
        if (zn == 0) {
            ++freeEdges;
            return;
        }
        const float dz = zn - z;
        if (std::fabs(dz) < jump) {
            const int32_t ln = label_[static_cast<size_t>(n)];
            if (ln == label) return;
            if (ln != 0) {
                touchesEarlier = true;
                return;
            }
            if (zn <= limit) {
                label_[static_cast<size_t>(n)] = label;
                queue_[static_cast<size_t>(tail++)] = n;
            } else {
                ++boundEdges;
                joined = true;
            }
        } else if (dz >= gap) {
            ++freeEdges;
        } else if (dz > 0) {
            ++boundEdges;
        }
    };

    while (head < tail) {
        const int c = queue_[static_cast<size_t>(head++)];
        const int gx = c % w;
        const int gy = c / w;
        minX = std::min(minX, gx);
        maxX = std::max(maxX, gx);
        minY = std::min(minY, gy);
        maxY = std::max(maxY, gy);
        const auto z = static_cast<float>(depth_[static_cast<size_t>(c)]);
        const float jump =
            jumpTable_[static_cast<size_t>(depth_[static_cast<size_t>(c)] / kBucketMm)];
        bool joined = false;
        if (gx > 0) visit(c - 1, z, jump, joined);
        if (gx + 1 < w) visit(c + 1, z, jump, joined);
        if (gy > 0) visit(c - w, z, jump, joined);
        if (gy + 1 < gridHeight_) visit(c + w, z, jump, joined);
        if (joined) {
            joins.add({z * columnFactor_[static_cast<size_t>(gx)],
                       z * rowFactor_[static_cast<size_t>(gy)], z},
                      0.0F);
        }
    }
    if (touchesEarlier || tail < 3) return false;
    // Cheap reject of walls, floors and bodies: the box is at least this large.
    const float seedCell = seedZ * static_cast<float>(step_) / camera_.focalX();
    if (static_cast<float>(std::max(maxX - minX, maxY - minY) + 1) * seedCell > params_.maxExtent) {
        return false;
    }

    const float cellArea = static_cast<float>(step_ * step_);
    auto cellPoint = [&](int c) {
        const auto z = static_cast<float>(depth_[static_cast<size_t>(c)]);
        return Vec3{z * columnFactor_[static_cast<size_t>(c % w)],
                    z * rowFactor_[static_cast<size_t>(c / w)], z};
    };

    Accumulator all;
    for (int i = 0; i < tail; ++i) {
        const Vec3 p = cellPoint(queue_[static_cast<size_t>(i)]);
        all.add(p, camera_.pixelArea(p.z) * cellArea);
    }
    const Vec3 centroid = all.mean();
    const float mmPerCell = centroid.z * static_cast<float>(step_) / camera_.focalX();
    const float boxWidth = static_cast<float>(maxX - minX + 1) * mmPerCell;
    const float boxHeight = static_cast<float>(maxY - minY + 1) * mmPerCell;
    const float extent = std::max(boxWidth, boxHeight);
    if (all.area > params_.maxArea || extent > params_.maxExtent) return false;
    if (boxWidth < params_.minWidth || boxHeight < params_.minHeight) return false;
    if (centroid.z > params_.maxCandidateDepth) return false;
    const int outline = freeEdges + boundEdges;
    const float isolation =
        outline > 0 ? static_cast<float>(freeEdges) / static_cast<float>(outline) : 1.0F;
    if (isolation < params_.minIsolation) return false;

    // The hand sits at the region's end farthest from where it joins the arm.
    Vec3 start = centroid;
    if (joins.count > 0) {
        const Vec3 attach = joins.mean();
        float best = -1.0F;
        for (int i = 0; i < tail; ++i) {
            const Vec3 p = cellPoint(queue_[static_cast<size_t>(i)]);
            const float d = squaredDistance(p, attach);
            if (d > best) {
                best = d;
                start = p;
            }
        }
    }
    const float r2 = params_.handRadius * params_.handRadius;
    Accumulator hand;
    for (int pass = 0; pass < 2; ++pass) {
        hand = Accumulator();
        for (int i = 0; i < tail; ++i) {
            const Vec3 p = cellPoint(queue_[static_cast<size_t>(i)]);
            if (squaredDistance(p, start) <= r2) hand.add(p, camera_.pixelArea(p.z) * cellArea);
        }
        if (hand.count == 0) return false;
        start = hand.mean();
    }
    if (hand.area < params_.minHandArea) return false;

    candidate->position = start;
    candidate->area = static_cast<float>(all.area);
    candidate->handArea = static_cast<float>(hand.area);
    candidate->extent = extent;
    candidate->isolation = isolation;
    return true;
}

}  // namespace tracker
