// Finds hand candidates in a depth frame: compact surfaces that stand out towards the sensor.
//
// Works on a coarse grid (about 106 columns whatever the resolution) so that a whole frame costs
// a few tens of microseconds. Cells are visited from the nearest to the farthest; each cell not
// yet taken seeds a region that grows over depth-continuous neighbours no more than `band`
// millimetres behind the seed. A region is a candidate when it is a local front (it does not
// continue a region seeded earlier), when most of its outline borders background that lies at
// least `isolationGap` behind it (or no reading), and when its size fits an arm's end. When the
// whole band is not, its nearer part (`nearBand`) is judged the same way: an arm that reaches
// a desk, or the chest, less than a band behind the hand takes them into the band, not into
// its nearer part. The candidate's position is the mean of the region's points within
// `handRadius` of its extremity: the point farthest from where the region joins what lies
// behind it (the forearm cut), or else from where it leaves the image, which is where the hand
// is when an arm reaches out. A region that goes on only out of the image, along more than
// `maxEdgeContact` of the image's edge, is something reaching into the view (a strip of ceiling
// or floor, a shelf's edge), no hand. A candidate lying `behindDepth` or more behind another
// one and within `behindLateral` of it sideways is dropped: that is the elbow or shoulder of an
// arm whose hand is in front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/tracker/CameraModel.h"
#include "app/tracker/TrackerTypes.h"

namespace tracker {

struct CandidateParams {
    int gridColumns = 106;        // target grid width; the step is width / gridColumns, at least 1
    float minDepth = 400.0F;      // nearer readings are ignored (mm)
    float maxDepth = 4000.0F;     // farther readings are ignored (mm)
    float band = 150.0F;          // depth band grown from a region's front-most cell (mm)
    float nearBand = 100.0F;      // the band's nearer part, tried when the whole is no candidate
    float isolationGap = 100.0F;  // background this far behind an outline counts as free (mm)
    float minIsolation = 0.5F;    // fraction of outline edges that must be free
    float nearMinIsolation = 0.6F;  // the same for the band's nearer part
    float handRadius = 100.0F;      // radius of the hand region around the extremity (mm)
    float minHandArea = 5500.0F;    // mm^2 of the hand region (55 cm^2)
    float maxArea = 80000.0F;       // mm^2 of the whole region (800 cm^2)
    float maxExtent = 650.0F;       // larger side of the region's box (mm)
    float minWidth = 40.0F;         // smallest sides of the region's box (mm): rejects slivers
    float minHeight = 60.0F;
    float maxEdgeContact = 120.0F;      // mm along the image's edge, for a region without an arm
    float maxCandidateDepth = 3500.0F;  // candidates farther away are not reported (mm)
    float behindDepth = 150.0F;         // a candidate this much behind another one
    float behindLateral = 400.0F;       // and this close to it sideways is an arm, not a hand (mm)
};

struct Candidate {
    Vec3 position;        // hand estimate: mean of the hand region (world mm)
    float area = 0;       // whole region, mm^2
    float handArea = 0;   // hand region, mm^2
    float extent = 0;     // larger side of the region's box, mm
    float isolation = 0;  // fraction of free outline edges
    int16_t hand = 0;     // id of the tracked hand the candidate is on, 0 for none
};

class CandidateFinder {
  public:
    static constexpr int kMaxCandidates = 32;

    explicit CandidateFinder(const CandidateParams& params = {});

    // Sets the stream geometry; allocates the grid (not per frame).
    void configure(const CameraModel& camera);

    // Finds candidates in the frame; returns how many were written (at most kMaxCandidates).
    int find(const DepthView& frame, Candidate* out, int capacity);

    int gridWidth() const { return gridWidth_; }
    int gridHeight() const { return gridHeight_; }
    int step() const { return step_; }

  private:
    void sampleGrid(const DepthView& frame);
    bool growRegion(int seed, int label, Candidate* candidate);
    // Whether the region's first `cells` queued cells, `limit` the band's farthest depth, are a
    // candidate; fills it in when they are.
    // `nearPart`: they are the band's nearer part, which must be more isolated.
    bool evaluate(int seed, int label, int cells, int limit, Candidate* candidate,
                  bool nearPart = false) const;
    float jumpAt(float z) const;
    // Index of grid cell (gx, gy); -1 and the width or height are the border outside the image.
    std::size_t cellIndex(int gx, int gy) const {
        return static_cast<std::size_t>((gy + 1) * stride_ + gx + 1);
    }
    Vec3 cellPoint(int c) const;

    CandidateParams params_;
    CameraModel camera_;
    int step_ = 1;
    int gridWidth_ = 0;
    int gridHeight_ = 0;
    int stride_ = 0;                    // cells per grid row, border included
    std::vector<uint16_t> depth_;       // grid depth, 0 = none
    std::vector<int32_t> label_;        // region of each cell, 0 = not yet taken, -1 = border
    std::vector<int16_t> column_;       // gx of each cell
    std::vector<int16_t> row_;          // gy of each cell
    std::vector<int32_t> order_;        // cells sorted nearest first
    std::vector<int32_t> bucketStart_;  // counting-sort buckets
    std::vector<int32_t> queue_;        // cells of the region being grown
    std::vector<int32_t> deferred_;     // cells beyond the near band, grown second
    int nearCells_ = 0;                 // queued cells within the near band
    std::vector<float> columnFactor_;   // world x = z * columnFactor[gx]
    std::vector<float> rowFactor_;      // world y = z * rowFactor[gy]
    std::vector<int32_t> jumpTable_;    // continuity limit per depth bucket (mm)
};

}  // namespace tracker
