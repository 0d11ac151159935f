// Recognises a wave in one hand candidate's path: the hand moves left and right a few times.
//
// Fed one position per frame with its time. A reversal is counted when x comes back at least
// `amplitude` from the running extreme of the current swing; consecutive turning points must be
// between `minHalfCycle` and `maxHalfCycle` apart, otherwise counting starts again. The wave
// completes at the `reversals`-th reversal if, over the whole wave, the vertical span stayed
// below `maxVerticalRatio` of the horizontal span and the depth span below `maxDepthSpan`.
// After a completed wave the detector is quiet for `cooldown` seconds.
#pragma once

#include "app/tracker/TrackerTypes.h"

namespace tracker {

struct WaveParams {
    float amplitude = 60.0F;      // mm
    float minHalfCycle = 0.12F;   // s
    float maxHalfCycle = 0.8F;    // s
    int reversals = 4;
    float maxVerticalRatio = 0.5F;
    float maxDepthSpan = 150.0F;  // mm
    float cooldown = 1.0F;        // s
};

enum class GestureProgress { kNone, kStarted, kCompleted };

class WaveDetector {
public:
    explicit WaveDetector(const WaveParams& params = {}) : params_(params) {}

    GestureProgress update(double time, const Vec3& position);
    void reset();
    int reversals() const { return count_; }

private:
    void restartCount(double time, const Vec3& position);

    WaveParams params_;
    bool primed_ = false;
    int direction_ = 0;     // +1 moving right, -1 moving left, 0 not yet known
    float extreme_ = 0;     // running extreme of the current swing
    double extremeTime_ = 0;
    Vec3 extremePoint_;
    float low_ = 0;         // before the first swing: lowest and highest x seen
    float high_ = 0;
    double lowTime_ = 0;
    double highTime_ = 0;
    double lastTurn_ = 0;   // time of the last turning point (reversal or motion start)
    int count_ = 0;
    Vec3 spanMin_;
    Vec3 spanMax_;
    bool reportedStart_ = false;
    double quietUntil_ = -1.0;
};

}  // namespace tracker
