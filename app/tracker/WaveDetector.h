// Recognises a wave in one hand candidate's path: the hand moves left and right a few times.
//
// Fed one position per frame with its time. A swing starts when the hand moves `amplitude`
// sideways from rest; a reversal is seen when x comes back at least `amplitude` from the
// running extreme of the swing. A reversal counts when the swing that ended there lasted at
// most `maxHalfCycle` and, except for the first swing from rest, at least `minHalfCycle` and
// spanned `minSwing`; otherwise counting starts again from there. The wave completes at the
// `reversals`-th counted reversal if, over the whole wave, the vertical span stayed below
// `maxVerticalRatio` of the horizontal span and the depth span below `maxDepthSpan`. A hand
// resting for `maxHalfCycle` ends any wave; a swing too slow to count that ends in a quick one
// from a rest of 0.15 s counts as the first swing from rest. A wave completes once, however long
// the hand goes on waving without a rest of 0.15 s; after it the detector is quiet for `cooldown`
// seconds; a gap of more than `maxGap` seconds between samples, or a sideways step faster than
// `maxStep`, starts it over, unless the step is `followed`: both samples were on the same tracked
// hand, so it was no jump from one candidate to another.
#pragma once

#include "app/tracker/TrackerTypes.h"

namespace tracker {

struct WaveParams {
    float amplitude = 60.0F;     // mm
    float minSwing = 90.0F;      // mm between two turning points
    float minHalfCycle = 0.12F;  // s
    float maxHalfCycle = 0.8F;   // s
    int reversals = 4;
    float maxVerticalRatio = 0.5F;
    float maxDepthSpan = 150.0F;  // mm
    float cooldown = 1.0F;        // s
    float maxGap = 0.2F;          // s without a sample that breaks the path
    float maxStep = 3000.0F;      // mm/s: faster sideways steps break the path
};

enum class GestureProgress { kNone, kStarted, kCompleted };

class WaveDetector {
  public:
    explicit WaveDetector(const WaveParams& params = {}) : params_(params) {}

    GestureProgress update(double time, const Vec3& position, bool followed = false);
    void reset();
    int reversals() const { return count_; }

  private:
    void restCount(const Vec3& from, const Vec3& to);
    void waitForSwing(double time, const Vec3& position);

    WaveParams params_;
    bool primed_ = false;
    double lastTime_ = 0;
    float lastX_ = 0;
    int direction_ = 0;  // +1 moving right, -1 moving left, 0 waiting for a swing
    float low_ = 0;      // while waiting: lowest and highest x lately, and when
    float high_ = 0;
    double lowTime_ = 0;
    double highTime_ = 0;
    float extreme_ = 0;  // running extreme of the current swing
    double extremeTime_ = 0;
    Vec3 extremePoint_;
    float turnX_ = 0;  // the last turning point (reversal or start from rest)
    double turnTime_ = 0;
    bool fromRest_ = false;  // the current swing started from rest
    float stillX_ = 0;       // where the hand has stayed (within the rest jitter) since
    double stillTime_ = 0;
    float restX_ = 0;  // where it last rested during the current swing, and until when
    double restEnd_ = -1.0;
    int count_ = 0;
    Vec3 spanMin_;
    Vec3 spanMax_;
    bool reportedStart_ = false;
    bool completed_ = false;  // the wave under way has completed
    double quietUntil_ = -1.0;
};

}  // namespace tracker
