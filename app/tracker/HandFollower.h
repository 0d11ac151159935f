// Finds a tracked hand again in a new depth frame, near where it is expected.
//
// Samples a window of about `searchRadius` millimetres around the predicted position on a
// local grid of at most `gridSize` x `gridSize` cells. From the sample nearest the prediction it
// grows the depth-continuous surface no farther than `bandBehind` behind the prediction; samples
// nearer to another tracked hand's prediction belong to that hand and are left out, so two
// hands that come close stay apart. Where the surface goes on (out of the window or behind the
// band) is the arm; the hand is the end of the surface farthest from it: the mean of the
// surface within `handRadius` of that end, re-centred once. Without an arm in sight the hand is
// the surface around the prediction.
//
// The result has support when the hand surface covers at least `minSupport`, does not fill
// its sphere like a wall or torso would (`maxOccupancy`), does not jump more than `maxJump`
// and does not sit against the image edge (a hand leaving the view leaves only the arm there).
#pragma once

#include <cstdint>
#include <vector>

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
    float maxJump = 150.0F;        // mm from the prediction
    float borderMargin = 30.0F;    // mm from the image edge
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

    FollowResult follow(const DepthView& frame, const Vec3& prediction, bool widened,
                        const Vec3* others, int otherCount);

  private:
    FollowParams params_;
    CameraModel camera_;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<uint16_t> depth_;  // window samples, 0 = none
    std::vector<uint8_t> flags_;   // kOutside, kInRegion, kClaimed
    std::vector<int32_t> queue_;
    std::vector<Vec3> points_;  // world position of each window cell
};

}  // namespace tracker
