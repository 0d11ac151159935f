#include "app/tracker/WaveDetector.h"

#include <algorithm>

namespace tracker {

void WaveDetector::reset() {
    primed_ = false;
    direction_ = 0;
    count_ = 0;
    reportedStart_ = false;
}

void WaveDetector::restartCount(double time, const Vec3& position) {
    count_ = 0;
    reportedStart_ = false;
    lastTurn_ = time;
    spanMin_ = position;
    spanMax_ = position;
}

GestureProgress WaveDetector::update(double time, const Vec3& p) {
    if (!primed_) {
        primed_ = true;
        direction_ = 0;
        low_ = high_ = p.x;
        lowTime_ = highTime_ = time;
        restartCount(time, p);
        return GestureProgress::kNone;
    }

    if (direction_ == 0) {
        // Wait for the first swing; its start is the first turning point.
        if (p.x < low_) {
            low_ = p.x;
            lowTime_ = time;
        }
        if (p.x > high_) {
            high_ = p.x;
            highTime_ = time;
        }
        // Forget a start that lies too far back to belong to this swing.
        if (time - lowTime_ > params_.maxHalfCycle) {
            low_ = p.x;
            lowTime_ = time;
        }
        if (time - highTime_ > params_.maxHalfCycle) {
            high_ = p.x;
            highTime_ = time;
        }
        if (p.x - low_ >= params_.amplitude) {
            direction_ = 1;
            restartCount(lowTime_, p);
        } else if (high_ - p.x >= params_.amplitude) {
            direction_ = -1;
            restartCount(highTime_, p);
        } else {
            return GestureProgress::kNone;
        }
        extreme_ = p.x;
        extremeTime_ = time;
        extremePoint_ = p;
        return GestureProgress::kNone;
    }

    spanMin_ = {std::min(spanMin_.x, p.x), std::min(spanMin_.y, p.y), std::min(spanMin_.z, p.z)};
    spanMax_ = {std::max(spanMax_.x, p.x), std::max(spanMax_.y, p.y), std::max(spanMax_.z, p.z)};

    const bool further = direction_ > 0 ? p.x > extreme_ : p.x < extreme_;
    if (further) {
        extreme_ = p.x;
        extremeTime_ = time;
        extremePoint_ = p;
        // A swing that goes on too long is not part of a wave: start counting from here.
        if (count_ > 0 && time - lastTurn_ > params_.maxHalfCycle) {
            restartCount(lastTurn_, p);
        }
        return GestureProgress::kNone;
    }
    const float back = direction_ > 0 ? extreme_ - p.x : p.x - extreme_;
    if (back < params_.amplitude) {
        // Stalled near the extreme for too long: the wave (if any) is over.
        if (count_ > 0 && time - extremeTime_ > params_.maxHalfCycle) {
            direction_ = 0;
            low_ = high_ = p.x;
            lowTime_ = highTime_ = time;
            restartCount(time, p);
        }
        return GestureProgress::kNone;
    }

    // A reversal at the extreme: it counts when the swing that ended there took a plausible time.
    const double halfCycle = extremeTime_ - lastTurn_;
    const Vec3 turn = extremePoint_;
    const double turnTime = extremeTime_;
    auto restartAtTurn = [&] {
        restartCount(turnTime, turn);
        spanMin_ = {std::min(turn.x, p.x), std::min(turn.y, p.y), std::min(turn.z, p.z)};
        spanMax_ = {std::max(turn.x, p.x), std::max(turn.y, p.y), std::max(turn.z, p.z)};
    };
    // The first swing may start from anywhere in the sweep, so only its length is bounded.
    const bool tooShort = count_ > 0 && halfCycle < params_.minHalfCycle;
    if (tooShort || halfCycle > params_.maxHalfCycle) {
        restartAtTurn();
    } else {
        ++count_;
    }
    lastTurn_ = turnTime;
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
        restartAtTurn();
        return GestureProgress::kNone;
    }
    if (time < quietUntil_) return GestureProgress::kNone;
    if (count_ >= params_.reversals) {
        quietUntil_ = time + params_.cooldown;
        restartAtTurn();
        return GestureProgress::kCompleted;
    }
    if (count_ >= 2 && !reportedStart_) {
        reportedStart_ = true;
        return GestureProgress::kStarted;
    }
    return GestureProgress::kNone;
}

}  // namespace tracker
