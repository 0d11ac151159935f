// Finds a tracked hand again in a new depth frame, near where it is expected.
//
// Samples a window of about `searchRadius` millimetres around the predicted position on a
// local grid of at most `gridSize` x `gridSize` cells. From the sample nearest the prediction it
// grows the depth-continuous surface no farther than `bandBehind` behind the prediction; samples
// nearer to another tracked hand's prediction belong to that hand and are left out, so two
// hands that come close stay apart. Where the surface goes on (out of the window or behind the
// band) is the arm; the hand is the end of the surface farthest from it: the surface within
// `handRadius` of that end, re-centred once. Without an arm in sight the hand is the surface
// around the prediction.
//
// The reported point is the palm's centre. Every surface sample gets its distance to the
// surface's outline (a chamfer distance transform of the window): the palm is the widest part
// of the hand, fingers are thin. The mean of the hand surface weighted by that distance
// (nothing within `fingerRadius` of the outline, full weight from `coreDepth` further in), over
// the hand's sphere and not re-centred on itself, is not pulled towards fingers, spread or
// together, as the plain mean is; where the two differ by less than `thinPull` the plain mean,
// which the outline's noise moves least, is kept, from twice that on the weighted one, and a
// blend in between. A sample without a reading takes the mean of the readings either side of
// it when they lie on one surface, so drop-outs inside a hand do not cut it; along the outline
// it stays empty (filled in from the reading beside it there, the outline grew and the weighted
// mean leant 10 to 20 mm further towards fingers held together).
//
// A hand that moved farther than its prediction says may reach the window's edge. The surface
// then leaves the window in more than one place (the hand on one side, the arm on the other),
// or the hand's widest part touches the window's edge; the search is then made again in a
// window large enough for the farthest a hand moves in one frame interval (`maxSpeed`), and
// its result is taken when the surface leaves that window in one place only (the arm).
//
// The result has support when the hand surface covers at least `minSupport`, does not fill
// its sphere like a wall or torso would (`maxOccupancy`), lies within the distance a hand moves
// in a frame interval of the prediction (`maxJump` at 30 frames per second, `maxSpeed` times
// the interval at lower rates) and does not sit against the image edge (a hand leaving the view
// leaves only the arm there).
#pragma once

#include <cstdint>
#include <vector>

#include "app/tracker/Background.h"
#include "app/tracker/CameraModel.h"
#include "app/tracker/TrackerTypes.h"

namespace tracker {

struct FollowParams {
    float searchRadius = 180.0F;   // mm around the prediction
    float widenedRadius = 280.0F;  // mm, while the hand is being searched for again
    float handRadius = 100.0F;     // mm
    float bandBehind = 120.0F;     // mm behind the prediction
    int gridSize = 48;             // cells per side of the window at most
    float minSupport = 2000.0F;    // mm^2 (20 cm^2)
    float maxOccupancy = 0.9F;     // hand area / (pi handRadius^2)
    float maxJump = 150.0F;        // mm from the prediction, at least
    float maxSpeed = 4500.0F;      // mm/s: farthest from the prediction at low frame rates
    float fingerRadius = 20.0F;    // mm: samples this near the outline do not count
    float coreDepth = 30.0F;       // mm further in at which a sample counts fully
    float thinPull = 10.0F;        // mm the thin parts must pull the mean before they are left out
    float frontShare = 0.5F;       // of a seed's depth offset counted when it is in front
    int exitGap = 2;               // window-edge cells between two places the surface leaves
    float borderMargin = 30.0F;    // mm from the image edge
    float minLead = 60.0F;  // mm a hand moves per frame before a lost one is looked for further
};

struct FollowResult {
    bool supported = false;
    Vec3 surface;    // mean of the hand surface, world mm
    float area = 0;  // mm^2
    float occupancy = 0;
    bool touchesBorder = false;
};

class HandFollower {
  public:
    explicit HandFollower(const FollowParams& params = {});

    void configure(const CameraModel& camera) { camera_ = camera; }
    // Samples that are `background`'s are not grown into from a sample in front of it. The
    // background must outlive the follower's use of it; nullptr: none.
    void setBackground(const Background* background) { background_ = background; }

    // `interval` is the time since the last frame (s); `speed` the hand's last speed (mm/s).
    // A fast hand that turns lands up to its speed times the interval away from the
    // prediction, so the second look reaches that much further.
    FollowResult follow(const DepthView& frame, const Vec3& prediction, bool widened,
                        float interval, const Vec3* others, int otherCount, float speed = 0.0F);

  private:
    struct Search {
        FollowResult result;
        bool ambiguous = false;  // the hand may reach beyond the window
    };
    Search search(const DepthView& frame, const Vec3& prediction, float radius, float reach,
                  const Vec3* others, int otherCount);
    // Grows the surface from window cell `seed` (`apart`: not into the background) and finds
    // the hand on it.
    Search grow(int seed, bool apart, const Vec3& prediction, float seedLimit, int step);
    // Places where the grown surface leaves the window through its edge.
    int windowExits() const;
    // Chamfer distance (3 per cell side) of every surface cell to the surface's outline.
    void distanceToOutline(int cells);

    FollowParams params_;
    CameraModel camera_;
    const Background* background_ = nullptr;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<uint16_t> depth_;   // window samples, 0 = none
    std::vector<uint8_t> flags_;    // kOutside, kInRegion, kClaimed
    std::vector<uint16_t> inside_;  // chamfer distance to the surface's outline
    std::vector<int32_t> queue_;
    std::vector<Vec3> points_;  // world position of each window cell
};

}  // namespace tracker
