// Recognises a push (a click) in one hand candidate's path: the hand moves towards the sensor
// and comes back.
//
// Fed one position per frame with its time; keeps the last ~1.7 s. At each frame it looks for
// the nearest point of the recent path (within `maxReturn` seconds). Going back from there, the
// push starts where the hand's approach was slower than `startRatio` of the push's fastest
// approach or than `restSpeed`: the hand was at rest or turning. The push must bring the hand
// `minTravel` to `maxTravel` closer in `minForward` to `maxForward` seconds (a slower reach
// is not a click), with sideways and vertical drift at most `maxDriftRatio` of the travel,
// moving steadily (no back and forth beyond `maxPathRatio`, no jump beyond `maxStepRatio` of
// the travel between frames, no gap over `maxGap`). After the nearest point, the hand must
// have come back by `returnRatio` of the travel within `maxReturn` seconds. The push is
// reported on the frame where the return is reached, and the detector is quiet for
// `cooldown` seconds afterwards.
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
    float restSpeed = 120.0F;    // mm/s: slower approach is rest (or sensor noise)
    float startRatio = 0.25F;    // approach below this part of the push's fastest is its start
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
    float approachSpeed(int i) const;

    PushParams params_;
    Sample samples_[kHistory]{};
    int first_ = 0;
    int size_ = 0;
    double quietUntil_ = -1.0;
    bool started_ = false;  // the push under way has been reported as started
};

}  // namespace tracker
