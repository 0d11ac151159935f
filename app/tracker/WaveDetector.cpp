#include "app/tracker/WaveDetector.h"

#include <algorithm>
#include <cmath>

namespace tracker {

namespace {
constexpr float kRestJitter = 10.0F;  // mm a resting hand's x may wander
constexpr double kRestTime = 0.15;    // s a hand stays within the jitter to be at rest
}  // namespace

void WaveDetector::reset() {
    primed_ = false;
    direction_ = 0;
    count_ = 0;
    reportedStart_ = false;
}

void WaveDetector::restCount(const Vec3& from, const Vec3& to) {
    count_ = 0;
    reportedStart_ = false;
    completed_ = false;
    spanMin_ = {std::min(from.x, to.x), std::min(from.y, to.y), std::min(from.z, to.z)};
    spanMax_ = {std::max(from.x, to.x), std::max(from.y, to.y), std::max(from.z, to.z)};
}

void WaveDetector::waitForSwing(double time, const Vec3& p) {
    direction_ = 0;
    stillX_ = p.x;
    stillTime_ = time;
    restEnd_ = -1.0;
    low_ = high_ = p.x;
    lowTime_ = highTime_ = time;
    restCount(p, p);
}

GestureProgress WaveDetector::update(double time, const Vec3& p, bool followed) {
    // A gap in the path (the candidate was not seen) breaks any wave under way, and so does a
    // jump no hand makes in one frame (the candidate was confused with another one).
    if (primed_ && (time - lastTime_ > params_.maxGap ||
                    (!followed && std::fabs(p.x - lastX_) >
                                      params_.maxStep * static_cast<float>(time - lastTime_)))) {
        primed_ = false;
    }
    lastTime_ = time;
    lastX_ = p.x;
    if (!primed_) {
        primed_ = true;
        waitForSwing(time, p);
        return GestureProgress::kNone;
    }

    if (direction_ == 0) {
        // Wait for the first swing from rest; it starts when the hand last left its lowest (or
        // highest) x, give or take the jitter of a resting hand.
        if (p.x < low_ || time - lowTime_ > params_.maxHalfCycle) low_ = p.x;
        if (p.x <= low_ + kRestJitter) lowTime_ = time;
        if (p.x > high_ || time - highTime_ > params_.maxHalfCycle) high_ = p.x;
        if (p.x >= high_ - kRestJitter) highTime_ = time;
        if (p.x - low_ >= params_.amplitude) {
            direction_ = 1;
            turnTime_ = lowTime_;
            turnX_ = low_;
        } else if (high_ - p.x >= params_.amplitude) {
            direction_ = -1;
            turnTime_ = highTime_;
            turnX_ = high_;
        } else {
            return GestureProgress::kNone;
        }
        fromRest_ = true;
        restCount(p, p);
        extreme_ = p.x;
        extremeTime_ = time;
        extremePoint_ = p;
        return GestureProgress::kNone;
    }

    // Where the hand last rested during this swing: a swing that took too long may have begun
    // there, from rest.
    if (std::fabs(p.x - stillX_) > kRestJitter) {
        stillX_ = p.x;
        stillTime_ = time;
    } else if (time - stillTime_ >= kRestTime) {
        // A rest ends a completed wave: the next one starts from here.
        if (completed_) {
            waitForSwing(time, p);
            return GestureProgress::kNone;
        }
        restX_ = stillX_;
        restEnd_ = time;
    }

    spanMin_ = {std::min(spanMin_.x, p.x), std::min(spanMin_.y, p.y), std::min(spanMin_.z, p.z)};
    spanMax_ = {std::max(spanMax_.x, p.x), std::max(spanMax_.y, p.y), std::max(spanMax_.z, p.z)};

    if (direction_ > 0 ? p.x > extreme_ : p.x < extreme_) {
        extreme_ = p.x;
        extremeTime_ = time;
        extremePoint_ = p;
        return GestureProgress::kNone;
    }
    const float back = std::fabs(p.x - extreme_);
    if (back < params_.amplitude) {
        // Resting near the extreme for too long: a wave (if any) is over, and the next swing
        // starts from where the hand rests.
        if (time - extremeTime_ > params_.maxHalfCycle) waitForSwing(time, p);
        return GestureProgress::kNone;
    }

    // A reversal at the extreme. The swing that ended there counts when it took a plausible
    // time and went far enough; the first swing from rest may be short (it starts anywhere).
    const double halfCycle = extremeTime_ - turnTime_;
    const float swing = std::fabs(extreme_ - turnX_);
    const bool counts =
        halfCycle <= params_.maxHalfCycle &&
        (fromRest_ || (halfCycle >= params_.minHalfCycle && swing >= params_.minSwing));
    // A slow swing that ended in a quick one from a rest (a hand raised, held, then waved):
    // the quick part is the first swing from rest.
    const bool fromLastRest = halfCycle > params_.maxHalfCycle && restEnd_ > turnTime_ &&
                              extremeTime_ - restEnd_ <= params_.maxHalfCycle &&
                              std::fabs(extreme_ - restX_) >= params_.amplitude;
    const Vec3 turn = extremePoint_;
    if (counts) {
        ++count_;
    } else {
        restCount(turn, p);
        if (fromLastRest) count_ = 1;
    }
    fromRest_ = false;
    turnTime_ = extremeTime_;
    turnX_ = extreme_;
    direction_ = -direction_;
    extreme_ = p.x;
    extremeTime_ = time;
    extremePoint_ = p;
    if (count_ == 0) return GestureProgress::kNone;

    const float width = spanMax_.x - spanMin_.x;
    const float height = spanMax_.y - spanMin_.y;
    const float depth = spanMax_.z - spanMin_.z;
    if (height >= params_.maxVerticalRatio * width || depth >= params_.maxDepthSpan) {
        // Too much vertical or depth motion for a wave: start again from this turn.
        restCount(turn, p);
        return GestureProgress::kNone;
    }
    if (time < quietUntil_ || completed_) return GestureProgress::kNone;
    if (count_ >= params_.reversals) {
        quietUntil_ = time + params_.cooldown;
        restCount(turn, p);
        completed_ = true;
        return GestureProgress::kCompleted;
    }
    if (count_ >= 2 && !reportedStart_) {
        reportedStart_ = true;
        return GestureProgress::kStarted;
    }
    return GestureProgress::kNone;
}

}  // namespace tracker
