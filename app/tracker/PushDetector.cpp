#include "app/tracker/PushDetector.h"

#include <algorithm>
#include <cmath>

namespace tracker {

// Speed towards the sensor at sample i (mm/s), from its neighbours.
float PushDetector::approachSpeed(int i) const {
    const int a = std::max(0, i - 1);
    const int b = std::min(size_ - 1, i + 1);
    const double dt = at(b).time - at(a).time;
    return dt > 0 ? static_cast<float>((at(a).position.z - at(b).position.z) / dt) : 0.0F;
}

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
    const double window = 2 * params_.maxForward + params_.maxReturn;
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
    // Back from there to where the hand started coming closer: the last sample before it
    // whose approach was slow next to the push's fastest, or at rest.
    float peak = 0;
    int start = nearest;
    for (int i = nearest - 1; i >= 0; --i) {
        const float speed = approachSpeed(i);
        peak = std::max(peak, speed);
        start = i;
        if (speed < std::max(params_.restSpeed, params_.startRatio * peak)) break;
        if (tip.time - at(i).time > params_.maxForward) return GestureProgress::kNone;
    }
    const Sample& from = at(start);
    const float travel = from.position.z - tip.position.z;
    if (travel < params_.minTravel || travel > params_.maxTravel) {
        started_ = false;
        return GestureProgress::kNone;
    }
    const double forward = tip.time - from.time;
    if (forward < params_.minForward || forward > params_.maxForward) {
        return GestureProgress::kNone;
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
