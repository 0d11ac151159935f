#include "app/tracker/CandidateFinder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tracker {

namespace {

constexpr int kBucketMm = 8;      // depth resolution of the nearest-first order
constexpr int32_t kOutside = -1;  // label of the border cells around the image

}  // namespace

CandidateFinder::CandidateFinder(const CandidateParams& params) : params_(params) {
    configure(CameraModel());
}

void CandidateFinder::configure(const CameraModel& camera) {
    camera_ = camera;
    step_ = std::max(1, camera.width() / std::max(1, params_.gridColumns));
    gridWidth_ = camera.width() / step_;
    gridHeight_ = camera.height() / step_;
    // The grid keeps a border of cells outside the image, so neighbours need no bounds checks.
    stride_ = gridWidth_ + 2;
    const auto cells = static_cast<size_t>(stride_) * static_cast<size_t>(gridHeight_ + 2);
    depth_.assign(cells, 0);
    label_.assign(cells, 0);
    order_.assign(cells, 0);
    queue_.assign(cells, 0);
    deferred_.assign(cells, 0);
    column_.assign(cells, 0);
    row_.assign(cells, 0);
    for (size_t c = 0; c < cells; ++c) {
        column_[c] = static_cast<int16_t>(static_cast<int>(c) % stride_ - 1);
        row_[c] = static_cast<int16_t>(static_cast<int>(c) / stride_ - 1);
    }
    columnFactor_.assign(static_cast<size_t>(stride_), 0.0F);
    rowFactor_.assign(static_cast<size_t>(gridHeight_ + 2), 0.0F);
    const int halfStep = step_ / 2;  // a cell's centre is a whole pixel
    for (int gx = 0; gx < gridWidth_; ++gx) {
        const float u = static_cast<float>(gx * step_ + halfStep);
        columnFactor_[static_cast<size_t>(gx)] =
            (u / static_cast<float>(camera.width()) - 0.5F) * camera.xzFactor();
    }
    for (int gy = 0; gy < gridHeight_; ++gy) {
        const float v = static_cast<float>(gy * step_ + halfStep);
        rowFactor_[static_cast<size_t>(gy)] =
            (0.5F - v / static_cast<float>(camera.height())) * camera.yzFactor();
    }
    const int buckets = static_cast<int>(params_.maxDepth) / kBucketMm + 2;
    bucketStart_.assign(static_cast<size_t>(buckets) + 1, 0);
    jumpTable_.resize(static_cast<size_t>(buckets));
    for (int b = 0; b < buckets; ++b) {
        const float z = static_cast<float>(b * kBucketMm);
        jumpTable_[static_cast<size_t>(b)] = static_cast<int32_t>(jumpAt(z));
    }
}

Vec3 CandidateFinder::cellPoint(int c) const {
    const auto z = static_cast<float>(depth_[static_cast<size_t>(c)]);
    return {z * columnFactor_[static_cast<size_t>(column_[static_cast<size_t>(c)])],
            z * rowFactor_[static_cast<size_t>(row_[static_cast<size_t>(c)])], z};
}

float CandidateFinder::jumpAt(float z) const {
    return surfaceJump(z, z * static_cast<float>(step_) / camera_.focalX());
}

void CandidateFinder::sampleGrid(const DepthView& frame) {
    const auto minDepth = static_cast<uint16_t>(params_.minDepth);
    const auto maxDepth = static_cast<uint16_t>(params_.maxDepth);
    const int half = step_ / 2;
    for (int gy = 0; gy < gridHeight_; ++gy) {
        uint16_t* out = depth_.data() + cellIndex(0, gy);
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
    std::fill(label_.begin(), label_.end(), 0);
    for (int gx = -1; gx <= gridWidth_; ++gx) {
        label_[cellIndex(gx, -1)] = kOutside;
        label_[cellIndex(gx, gridHeight_)] = kOutside;
    }
    for (int gy = 0; gy < gridHeight_; ++gy) {
        label_[cellIndex(-1, gy)] = kOutside;
        label_[cellIndex(gridWidth_, gy)] = kOutside;
    }

    // Counting sort of the valid cells by depth, nearest first.
    std::fill(bucketStart_.begin(), bucketStart_.end(), 0);
    for (int gy = 0; gy < gridHeight_; ++gy) {
        const uint16_t* row = depth_.data() + cellIndex(0, gy);
        for (int gx = 0; gx < gridWidth_; ++gx) {
            if (row[gx] != 0) ++bucketStart_[static_cast<size_t>(row[gx] / kBucketMm) + 1];
        }
    }
    for (size_t b = 1; b < bucketStart_.size(); ++b) bucketStart_[b] += bucketStart_[b - 1];
    const int valid = bucketStart_.back();
    for (int gy = 0; gy < gridHeight_; ++gy) {
        const auto first = static_cast<int32_t>(cellIndex(0, gy));
        const uint16_t* row = depth_.data() + first;
        for (int gx = 0; gx < gridWidth_; ++gx) {
            if (row[gx] != 0) {
                order_[static_cast<size_t>(bucketStart_[row[gx] / kBucketMm]++)] = first + gx;
            }
        }
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
    const int seedZ = depth_[static_cast<size_t>(seed)];
    const int nearLimit = seedZ + static_cast<int>(params_.nearBand);
    const int farLimit = seedZ + static_cast<int>(params_.band);
    const uint16_t* depth = depth_.data();
    int32_t* labels = label_.data();
    int32_t* queue = queue_.data();
    const int offsets[4] = {-1, 1, -stride_, stride_};

    // First the part within the near band; continuous cells beyond it wait in `deferred_`,
    // then the rest of the band is grown from them, so that the near part is the queue's start.
    int head = 0;
    int tail = 0;
    int deferred = 0;
    queue[tail++] = seed;
    labels[seed] = label;
    for (int phase = 0; phase < 2; ++phase) {
        const int limit = phase == 0 ? nearLimit : farLimit;
        if (phase == 1) {
            nearCells_ = tail;
            for (int k = 0; k < deferred; ++k) queue[tail++] = deferred_[static_cast<size_t>(k)];
        }
        while (head < tail) {
            const int c = queue[head++];
            const int z = depth[c];
            const int jump = jumpTable_[static_cast<size_t>(z / kBucketMm)];
            for (const int offset : offsets) {
                const int n = c + offset;
                if (labels[n] != 0) continue;
                const int zn = depth[n];
                const int dz = zn - z;
                if (zn == 0 || dz >= jump || dz <= -jump || zn > farLimit) continue;
                labels[n] = label;
                if (zn <= limit) {
                    queue[tail++] = n;
                } else {
                    deferred_[static_cast<size_t>(deferred++)] = n;
                }
            }
        }
    }
    // The whole band when it is the size of an arm's end; otherwise its nearer part, which
    // leaves out a body or desk that the arm joins less than a band behind the hand.
    if (evaluate(seed, label, tail, farLimit, candidate)) return true;
    return nearCells_ < tail && evaluate(seed, label, nearCells_, nearLimit, candidate, true);
}

bool CandidateFinder::evaluate(int seed, int label, int cells, int limit, Candidate* candidate,
                               bool nearPart) const {
    if (cells < 3) return false;
    const int seedZ = depth_[static_cast<size_t>(seed)];
    const auto gap = static_cast<int>(params_.isolationGap);
    const uint16_t* depth = depth_.data();
    const int32_t* labels = label_.data();
    const int32_t* queue = queue_.data();
    const int offsets[4] = {-1, 1, -stride_, stride_};

    // Cheap reject of walls, floors and bodies first: the box is at least this large.
    int minX = gridWidth_, maxX = -1, minY = gridHeight_, maxY = -1;
    for (int k = 0; k < cells; ++k) {
        const auto c = static_cast<size_t>(queue[k]);
        minX = std::min<int>(minX, column_[c]);
        maxX = std::max<int>(maxX, column_[c]);
        minY = std::min<int>(minY, row_[c]);
        maxY = std::max<int>(maxY, row_[c]);
    }
    const float seedCell = static_cast<float>(seedZ * step_) / camera_.focalX();
    if (static_cast<float>(std::max(maxX - minX, maxY - minY) + 1) * seedCell > params_.maxExtent) {
        return false;
    }

    int freeEdges = 0;
    int boundEdges = 0;
    PointMean joins;      // cells where the region goes on beyond its band (an arm)
    PointMean edgeJoins;  // cells where it goes on out of the image
    for (int k = 0; k < cells; ++k) {
        const int c = queue[k];
        const int z = depth[c];
        const int jump = jumpTable_[static_cast<size_t>(z / kBucketMm)];
        bool joined = false;
        bool leaves = false;
        for (const int offset : offsets) {
            const int n = c + offset;
            const int32_t ln = labels[n];
            if (ln == kOutside) {  // the image edge: neither free nor bound
                leaves = true;
                continue;
            }
            const int zn = depth[n];
            if (zn == 0) {
                ++freeEdges;
                continue;
            }
            const int dz = zn - z;
            if (dz < jump && dz > -jump) {
                if (ln == label && zn <= limit) continue;
                // A region seeded before this one: this one continues it and is no front.
                if (ln != label && ln != 0) return false;
                ++boundEdges;
                joined = true;
            } else if (dz >= gap) {
                ++freeEdges;
            } else {
                // A surface nearer than the region, or one just behind it: the region is seen
                // past or against it (a patch of background between nearer objects), not free.
                ++boundEdges;
            }
        }
        if (joined) joins.add(cellPoint(c), 0.0F);
        if (leaves) edgeJoins.add(cellPoint(c), 0.0F);
    }

    const float cellArea = static_cast<float>(step_ * step_);
    PointMean all;
    for (int k = 0; k < cells; ++k) {
        const Vec3 p = cellPoint(queue[k]);
        all.add(p, camera_.pixelArea(p.z) * cellArea);
    }
    const Vec3 centroid = all.value();
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
    // The nearer part is cut out of something larger, along its far side: more of the rest of
    // its outline must be free (a floor's patch between shadows is free on half of it).
    if (isolation < (nearPart ? params_.nearMinIsolation : params_.minIsolation)) return false;

    // The hand sits at the region's end farthest from where it joins the arm, or else from
    // where it leaves the image.
    Vec3 start = centroid;
    if (joins.count > 0 || edgeJoins.count > 0) {
        const Vec3 attach = joins.count > 0 ? joins.value() : edgeJoins.value();
        float best = -1.0F;
        for (int k = 0; k < cells; ++k) {
            const Vec3 p = cellPoint(queue[k]);
            const float d = squaredDistance(p, attach);
            if (d > best) {
                best = d;
                start = p;
            }
        }
    }
    const float r2 = params_.handRadius * params_.handRadius;
    PointMean hand;
    for (int pass = 0; pass < 2; ++pass) {
        hand = PointMean();
        for (int k = 0; k < cells; ++k) {
            const Vec3 p = cellPoint(queue[k]);
            if (squaredDistance(p, start) <= r2) hand.add(p, camera_.pixelArea(p.z) * cellArea);
        }
        if (hand.count == 0) return false;
        start = hand.value();
    }
    if (hand.area < params_.minHandArea) return false;
    // Something that goes on only out of the image, along more of the image's edge than a hand
    // is wide, is no hand but a thing reaching into the view: a strip of ceiling or floor, a
    // shelf's edge. (A hand partly out of the view meets the edge across its fingers or wrist.)
    if (joins.count == 0 &&
        static_cast<float>(edgeJoins.count) * mmPerCell > params_.maxEdgeContact) {
        return false;
    }

    candidate->position = start;
    candidate->area = static_cast<float>(all.area);
    candidate->handArea = static_cast<float>(hand.area);
    candidate->extent = extent;
    candidate->isolation = isolation;
    return true;
}

}  // namespace tracker
