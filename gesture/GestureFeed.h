// The viewer's front object for gesture recognition: keeps the last hand
// points it was given and passes each frame to the one GestureManager.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "gesture/FeedbackState.h"
#include "gesture/GestureManager.h"
#include "gesture/Point3.h"

namespace platform {
class Desktop;
}

namespace gesture {

class GestureFeed {
  public:
    explicit GestureFeed(platform::Desktop& desktop);

    // One frame: depth-image points (pixels, z in mm) and world points (mm)
    // of the tracked hands, entry 2 being their midpoint when there are two
    // or more. Fills `state`. Always returns 1.
    int32_t feedHandPoints(std::span<const Point3f, 3> depth, std::span<const Point3f, 3> world,
                           int32_t count, FeedbackState& state);

    GestureManager& manager() { return *manager_; }
    const Point3i& depthPoint(int i) const { return depthPoints_[i]; }

    int32_t feedbackCode = 0;

  private:
    std::unique_ptr<GestureManager> manager_;
    Point3i depthPoints_[3];
    Point3f worldPoints_[3];
};

}  // namespace gesture
