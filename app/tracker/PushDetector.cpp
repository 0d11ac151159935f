#include "app/tracker/PushDetector.h"

#include <algorithm>
#include <cmath>

namespace tracker {

GestureProgress PushDetector::update(double time, const Vec3& position) {
    // A gap in the path (the candidate was not seen) breaks any push under way.
    if (size_ > 0 && time - at(size_ - 1).time > params_.maxGap) reset();
    if (size_ == kHistory) {
        first_ = (first_ + 1) % kHistory;
        --size_;
    }
    samples_[(first_ + size_) % kHistory] = {time, position};
    ++size_;
    // Drop what is too old to matter.
    const double window = params_.leadIn + params_.maxForward + params_.maxReturn + 0.1;
    while (size_ > 1 && time - at(0).time > window) {
        first_ = (first_ + 1) % kHistory;
        --size_;
    }
    if (time < quietUntil_ || size_ < 3) return GestureProgress::kNone;

    // Nearest point within the return window.
    int nearest = size_ - 1;
    for (int i = size_ - 1; i >= 0 && time - at(i).time <= params_.maxReturn; --i) {
        if (at(i).position.z < at(nearest).position.z) nearest = i;
    }
    const Sample& tip = at(nearest);
    // Farthest point before it, within the forward window.
    int start = nearest;
    for (int i = nearest - 1; i >= 0 && tip.time - at(i).time <= params_.maxForward; --i) {
        if (at(i).position.z > at(start).position.z) start = i;
    }
    const Sample& from = at(start);
    const float travel = from.position.z - tip.position.z;
    if (tip.time - from.time < params_.minForward) return GestureProgress::kNone;
    // The push starts from rest or a turn: just before it, the hand was not already coming
    // closer at the push's own pace (as it does in a slow reach).
    for (int i = start - 1; i >= 0; --i) {
        const double lead = from.time - at(i).time;
        if (lead < params_.leadIn) continue;
        const double approach = (at(i).position.z - from.position.z) / lead;
        const double pace = travel / (tip.time - from.time);
        if (approach > params_.maxLeadIn * pace) return GestureProgress::kNone;
        break;
    }
    // A hand moves steadily; a blob whose depth jumps around does not push.
    float path = 0;
    float largestStep = 0;
    for (int i = start + 1; i <= nearest; ++i) {
        const float step = std::fabs(at(i).position.z - at(i - 1).position.z);
        path += step;
        largestStep = std::max(largestStep, step);
    }
    if (path > params_.maxPathRatio * travel || largestStep > params_.maxStepRatio * travel) {
        return GestureProgress::kNone;
    }
    const float drift = params_.maxDriftRatio * travel;
    if (std::fabs(tip.position.x - from.position.x) > drift ||
        std::fabs(tip.position.y - from.position.y) > drift) {
        return GestureProgress::kNone;
    }
    const Vec3& now = position;
    const float back = now.z - tip.position.z;
    if (back < params_.returnRatio * travel) {
        if (started_) return GestureProgress::kNone;
        started_ = true;
        return GestureProgress::kStarted;
    }
    if (std::fabs(now.x - tip.position.x) > drift || std::fabs(now.y - tip.position.y) > drift) {
        return GestureProgress::kNone;
    }
    for (int i = nearest + 1; i < size_; ++i) {
        if (std::fabs(at(i).position.z - at(i - 1).position.z) > params_.maxStepRatio * travel) {
            return GestureProgress::kNone;
        }
    }
    quietUntil_ = time + params_.cooldown;
    size_ = 0;
    started_ = false;
    return GestureProgress::kCompleted;
}

}  // namespace tracker
