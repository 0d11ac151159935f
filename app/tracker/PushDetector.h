// Recognises a push (a click) in one hand candidate's path: the hand moves towards the sensor
// and comes back.
//
// Fed one position per frame with its time; keeps the last ~1.5 s. At each frame it looks for
// the nearest point of the recent path: before it, the farthest point at most `maxForward`
// seconds earlier starts the push, which must bring the hand at least `minTravel` closer in at
// least `minForward` seconds, with sideways and vertical drift at most `maxDriftRatio` of the
// travel, moving steadily (no back and forth beyond `maxPathRatio`, no jump beyond
// `maxStepRatio` of the travel between frames, no gap over `maxGap`), and from rest or a turn
// (over the `leadIn` seconds before, the hand came closer at no more than `maxLeadIn` of the
// push's own pace).
// After it, the hand must have come back by `returnRatio` of the travel within `maxReturn`
// seconds. The push is reported on the frame where the return is reached, and the detector is
// quiet for `cooldown` seconds afterwards.
#pragma once

#include "app/tracker/TrackerTypes.h"
#include "app/tracker/WaveDetector.h"

namespace tracker {

struct PushParams {
    float minTravel = 100.0F;    // mm towards the sensor
    float maxTravel = 450.0F;    // mm; longer reaches are not clicks
    float minForward = 0.1F;     // s
    float maxForward = 0.6F;     // s
    float maxDriftRatio = 0.5F;  // sideways or vertical drift / travel
    float maxPathRatio = 1.6F;   // depth path length / travel on the way in
    float maxStepRatio = 0.5F;   // largest depth change between two frames / travel
    float maxGap = 0.1F;         // s without a sample that breaks the path
    float leadIn = 0.2F;         // s before the push start over which the hand ...
    float maxLeadIn = 0.7F;      // ... came closer at most at this part of the push's pace
    float returnRatio = 0.5F;    // part of the travel to come back
    float maxReturn = 0.5F;      // s
    float cooldown = 1.0F;       // s
};

class PushDetector {
  public:
    static constexpr int kHistory = 64;

    explicit PushDetector(const PushParams& params = {}) : params_(params) {}

    GestureProgress update(double time, const Vec3& position);
    void reset() {
        size_ = 0;
        started_ = false;
    }

  private:
    struct Sample {
        double time;
        Vec3 position;
    };
    const Sample& at(int i) const { return samples_[(first_ + i) % kHistory]; }

    PushParams params_;
    Sample samples_[kHistory]{};
    int first_ = 0;
    int size_ = 0;
    double quietUntil_ = -1.0;
    bool started_ = false;  // the push under way has been reported as started
};

}  // namespace tracker
