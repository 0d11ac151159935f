#include "app/tracker/HandTrackerCore.h"

#include <algorithm>
#include <cmath>

namespace tracker {

HandTrackerCore::HandTrackerCore(const TrackerParams& params)
    : params_(params),
      finder_(params.candidates),
      tracks_(params.wave, params.push, params.candidateGate),
      follower_(params.follow) {
    configure(CameraModel());
}

void HandTrackerCore::configure(const CameraModel& camera) {
    camera_ = camera;
    finder_.configure(camera);
    follower_.configure(camera);
    background_.configure(camera.width(), camera.height());
    follower_.setBackground(&background_);
    tracks_.clear();
    for (Hand& h : hands_) h = Hand();
    started_ = false;
}

void HandTrackerCore::setGestureEnabled(int32_t type, bool enabled) {
    if (type >= 0 && type < kGestureTypeCount) enabled_[type] = enabled;
}

bool HandTrackerCore::gestureEnabled(int32_t type) const {
    return type >= 0 && type < kGestureTypeCount && enabled_[type];
}

void HandTrackerCore::setSmoothingFactor(float factor) {
    smoothing_ = std::isfinite(factor) ? std::clamp(factor, 0.0F, 0.999F) : 0.0F;
}

int HandTrackerCore::handCount() const {
    return static_cast<int>(std::count_if(hands_.begin(), hands_.end(), [](const Hand& h) {
        return h.phase == Phase::kNew || h.phase == Phase::kTracked;
    }));
}

int16_t HandTrackerCore::nextId() {
    for (;;) {
        lastId_ = static_cast<int16_t>(lastId_ >= INT16_MAX ? 1 : lastId_ + 1);
        const bool used = std::any_of(hands_.begin(), hands_.end(), [&](const Hand& h) {
            return h.phase != Phase::kFree && h.id == lastId_;
        });
        if (!used) return lastId_;
    }
}

StartResult HandTrackerCore::startHandTracking(const Vec3& position, int16_t* id) {
    if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(position.z) ||
        position.z <= 0.0F) {
        return StartResult::kBadPosition;
    }
    const float near2 = params_.duplicateDistance * params_.duplicateDistance;
    for (Hand& h : hands_) {
        if ((h.phase == Phase::kNew || h.phase == Phase::kTracked) &&
            squaredDistance(h.raw, position) < near2) {
            if (h.outside) bringBack(h, position, time_);  // back in view where it left
            if (id != nullptr) *id = h.id;
            return StartResult::kAlreadyTracked;
        }
    }
    for (Hand& h : hands_) {
        if (h.phase != Phase::kFree) continue;
        h = Hand();
        h.phase = Phase::kNew;
        h.id = nextId();
        h.raw = position;
        h.smoothed = position;
        h.prediction = position;
        h.lastSupport = time_;
        if (id != nullptr) *id = h.id;
        return StartResult::kStarted;
    }
    return StartResult::kNoRoom;
}

bool HandTrackerCore::stopHandTracking(int16_t id) {
    for (Hand& h : hands_) {
        if ((h.phase == Phase::kNew || h.phase == Phase::kTracked) && h.id == id) {
            h.phase = Phase::kLost;
            return true;
        }
    }
    return false;
}

void HandTrackerCore::process(const DepthView& frame, uint64_t timestampUs, TrackerOutput& out) {
    float dt = params_.frameInterval;
    if (started_ && timestampUs > lastTimestamp_ && timestampUs - lastTimestamp_ < 2'000'000U) {
        dt = static_cast<float>(timestampUs - lastTimestamp_) * 1e-6F;
    }
    if (started_) time_ += dt;
    started_ = true;
    lastTimestamp_ = timestampUs;

    out.handCount = 0;
    out.gestureCount = 0;
    followHands(frame, time_, dt);
    keepHandsOutOfBackground(frame);
    reportHands(out);
    findGestures(frame, time_, out);
}

void HandTrackerCore::followHands(const DepthView& frame, double time, float dt) {
    for (Hand& h : hands_) {
        if (isActive(h)) h.prediction = h.outside ? h.raw : h.raw + h.velocity * dt;
    }
    const float keep = 1.0F - smoothing_;
    for (Hand& h : hands_) {
        if (!isActive(h)) continue;
        if (h.outside) {
            // Out of the view: picked up again from the candidates (findGestures).
            if (time - h.lastSupport > params_.outsideFor) h.phase = Phase::kLost;
            continue;
        }
        std::array<Vec3, kMaxHands> others{};
        int otherCount = 0;
        for (const Hand& o : hands_) {
            if (&o != &h && isActive(o) && !o.outside) {
                others[static_cast<size_t>(otherCount++)] = o.prediction;
            }
        }
        const FollowResult r =
            follower_.follow(frame, h.prediction, !h.supported, dt, others.data(), otherCount,
                             std::sqrt(squaredDistance(h.velocity, Vec3{})));
        if (r.supported) {
            const Vec3 measured = r.surface + Vec3{0.0F, 0.0F, params_.surfaceToCentre};
            if (h.supported && dt > 0) {
                h.velocity = h.velocity * 0.5F + (measured - h.raw) * (0.5F / dt);
            } else {
                h.velocity = Vec3{};
            }
            h.raw = measured;
            h.smoothed = h.measured ? h.smoothed + (measured - h.smoothed) * keep : measured;
            h.measured = true;
            h.supported = true;
            h.outside = false;
            h.lastSupport = time;
            h.lastSeen = measured;
        } else {
            h.supported = false;
            h.velocity = h.velocity * 0.5F;
            h.raw = h.prediction;
            h.smoothed = h.smoothed + (h.raw - h.smoothed) * keep;
            if (time - h.lastSupport <= params_.lostAfter) continue;
            // A hand last seen at the image's edge has most likely left the view there: it is
            // kept, not reported as tracked, where it left, and picked up again when a hand
            // candidate comes up near that place within `outsideFor`.
            if (h.measured && nearImageEdge(h.lastSeen)) {
                h.outside = true;
                h.velocity = Vec3{};
                h.raw = h.lastSeen;
                h.smoothed = h.lastSeen;
            } else {
                h.phase = Phase::kLost;
            }
        }
    }
}

void HandTrackerCore::bringBackHands(double time, int found) {
    const float reach2 = params_.follow.widenedRadius * params_.follow.widenedRadius;
    const float near2 = params_.duplicateDistance * params_.duplicateDistance;
    for (Hand& h : hands_) {
        if (!h.outside || !isActive(h)) continue;
        const Candidate* best = nullptr;
        float bestDistance = reach2;
        for (int k = 0; k < found; ++k) {
            const Candidate& c = candidates_[static_cast<size_t>(k)];
            const float d = squaredDistance(c.position, h.lastSeen);
            if (d > bestDistance) continue;
            // Not a hand that is tracked already.
            const bool taken = std::any_of(hands_.begin(), hands_.end(), [&](const Hand& o) {
                return &o != &h && isActive(o) && !o.outside &&
                       squaredDistance(o.raw, c.position) < near2;
            });
            if (taken) continue;
            best = &c;
            bestDistance = d;
        }
        if (best != nullptr) {
            bringBack(h, best->position + Vec3{0.0F, 0.0F, params_.surfaceToCentre}, time);
        }
    }
}

void HandTrackerCore::markHandCandidates(int found) {
    const float near2 = params_.duplicateDistance * params_.duplicateDistance;
    for (const Hand& h : hands_) {
        if (!isActive(h) || h.outside || !h.supported) continue;
        Candidate* best = nullptr;
        float bestDistance = near2;
        for (int k = 0; k < found; ++k) {
            Candidate& c = candidates_[static_cast<size_t>(k)];
            const float d = squaredDistance(c.position, h.raw);
            if (c.hand == 0 && d < bestDistance) {
                best = &c;
                bestDistance = d;
            }
        }
        if (best != nullptr) best->hand = h.id;
    }
}

void HandTrackerCore::bringBack(Hand& h, const Vec3& at, double time) {
    // Followed from there in the next frame, in the widened window. Not found there within
    // `lostAfter`, it is lost, not kept out of the view once more.
    h.outside = false;
    h.supported = false;
    h.measured = false;
    h.raw = at;
    h.smoothed = at;
    h.prediction = at;
    h.lastSupport = time;
}

bool HandTrackerCore::nearImageEdge(const Vec3& p) const {
    if (!(p.z > 100.0F)) return false;
    float u = 0;
    float v = 0;
    camera_.worldToDepth(p.x, p.y, p.z, &u, &v);
    const float mu = camera_.focalX() * params_.edgeBand / p.z;
    const float mv = camera_.focalY() * params_.edgeBand / p.z;
    return !(u >= mu && v >= mv && u <= static_cast<float>(camera_.width() - 1) - mu &&
             v <= static_cast<float>(camera_.height() - 1) - mv);
}

void HandTrackerCore::keepHandsOutOfBackground(const DepthView& frame) {
    std::array<Background::PixelBox, kMaxHands> boxes{};
    int count = 0;
    for (const Hand& h : hands_) {
        if (!isActive(h) || !(h.raw.z > 100.0F)) continue;
        float u = 0;
        float v = 0;
        camera_.worldToDepth(h.raw.x, h.raw.y, h.raw.z, &u, &v);
        const float rx = camera_.focalX() * params_.keepRadius / h.raw.z;
        const float ry = camera_.focalY() * params_.keepRadius / h.raw.z;
        if (!std::isfinite(u) || !std::isfinite(v) || !std::isfinite(rx) || !std::isfinite(ry))
            continue;
        const float big = 1e6F;
        boxes[static_cast<size_t>(count++)] = {static_cast<int>(std::clamp(u - rx, -big, big)),
                                               static_cast<int>(std::clamp(v - ry, -big, big)),
                                               static_cast<int>(std::clamp(u + rx, -big, big)),
                                               static_cast<int>(std::clamp(v + ry, -big, big))};
    }
    background_.update(frame, boxes.data(), count);
}

void HandTrackerCore::reportHands(TrackerOutput& out) {
    for (Hand& h : hands_) {
        if (h.phase == Phase::kFree || out.handCount >= kMaxHands) continue;
        HandReport& r = out.hands[out.handCount++];
        r.id = h.id;
        r.position = h.smoothed;
        if (h.phase == Phase::kLost) {
            r.state = kHandLost;
            h.phase = Phase::kFree;
            continue;
        }
        if (h.outside) {
            r.state = kHandCoasting;  // out of the view: kept, but no position to use
            continue;
        }
        r.state = kHandTracked | (h.supported ? 0U : static_cast<uint32_t>(kHandCoasting));
        if (h.phase == Phase::kNew) {
            r.state |= kHandNew;
            h.phase = Phase::kTracked;
        }
    }
}

void HandTrackerCore::findGestures(const DepthView& frame, double time, TrackerOutput& out) {
    if (!enabled_[kGestureWave] && !enabled_[kGestureClick]) return;
    const int found = finder_.find(frame, candidates_.data(), static_cast<int>(candidates_.size()));
    bringBackHands(time, found);
    markHandCandidates(found);
    const int events = tracks_.update(time, candidates_.data(), found, enabled_, events_.data(),
                                      static_cast<int>(events_.size()));
    for (int k = 0; k < events && out.gestureCount < kMaxGestures; ++k) {
        const GestureEvent& e = events_[static_cast<size_t>(k)];
        GestureReport& g = out.gestures[out.gestureCount++];
        g.type = e.type;
        g.state =
            e.progress == GestureProgress::kCompleted ? kGestureCompleted : kGestureInProgress;
        g.position = e.position + Vec3{0.0F, 0.0F, params_.surfaceToCentre};
    }
}

}  // namespace tracker
