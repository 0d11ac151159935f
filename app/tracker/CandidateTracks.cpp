#include "app/tracker/CandidateTracks.h"

#include <algorithm>

namespace tracker {

CandidateTracks::CandidateTracks(const WaveParams& wave, const PushParams& push, float gate,
                                 int maxMisses, float muteRadius)
    : waveParams_(wave),
      pushParams_(push),
      gate_(gate),
      maxMisses_(maxMisses),
      muteRadius_(muteRadius) {
    clear();
}

void CandidateTracks::clear() {
    for (Track& t : tracks_) {
        t.active = false;
        t.wave = WaveDetector(waveParams_);
        t.push = PushDetector(pushParams_);
    }
    for (Mute& m : mutes_) m = Mute();
}

int CandidateTracks::activeTracks() const {
    return static_cast<int>(
        std::count_if(tracks_.begin(), tracks_.end(), [](const Track& t) { return t.active; }));
}

bool CandidateTracks::muted(int32_t type, double time, const Vec3& position) const {
    const float r2 = muteRadius_ * muteRadius_;
    return std::any_of(mutes_.begin(), mutes_.end(), [&](const Mute& m) {
        return m.type == type && time < m.until && squaredDistance(m.position, position) < r2;
    });
}

int CandidateTracks::update(double time, const Candidate* candidates, int count,
                            const bool enabled[kGestureTypeCount], GestureEvent* events,
                            int capacity) {
    count = std::min(count, CandidateFinder::kMaxCandidates);
    // Greedy matching, nearest pairs first.
    struct Pair {
        float distance;
        int track;
        int candidate;
    };
    std::array<Pair, kMaxTracks * CandidateFinder::kMaxCandidates> pairs{};
    int pairCount = 0;
    const float gate2 = gate_ * gate_;
    for (int t = 0; t < kMaxTracks; ++t) {
        const Track& track = tracks_[static_cast<size_t>(t)];
        if (!track.active) continue;
        for (int c = 0; c < count; ++c) {
            // The same tracked hand pairs first, at any distance.
            const bool sameHand = track.hand != 0 && track.hand == candidates[c].hand;
            const float d =
                sameHand ? -1.0F : squaredDistance(track.position, candidates[c].position);
            if (d <= gate2) pairs[static_cast<size_t>(pairCount++)] = {d, t, c};
        }
    }
    std::sort(pairs.begin(), pairs.begin() + pairCount,
              [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::array<int, CandidateFinder::kMaxCandidates> owner{};
    owner.fill(-1);
    std::array<bool, kMaxTracks> matched{};
    for (int k = 0; k < pairCount; ++k) {
        const Pair& p = pairs[static_cast<size_t>(k)];
        if (matched[static_cast<size_t>(p.track)] || owner[static_cast<size_t>(p.candidate)] >= 0) {
            continue;
        }
        matched[static_cast<size_t>(p.track)] = true;
        owner[static_cast<size_t>(p.candidate)] = p.track;
    }
    for (int t = 0; t < kMaxTracks; ++t) {
        Track& track = tracks_[static_cast<size_t>(t)];
        if (track.active && !matched[static_cast<size_t>(t)] && ++track.misses > maxMisses_) {
            track.active = false;
        }
    }
    for (int c = 0; c < count; ++c) {
        if (owner[static_cast<size_t>(c)] >= 0) continue;
        for (int t = 0; t < kMaxTracks; ++t) {
            Track& track = tracks_[static_cast<size_t>(t)];
            if (track.active) continue;
            track.active = true;
            track.misses = 0;
            track.hand = 0;
            track.position = candidates[c].position;
            track.wave.reset();
            track.push.reset();
            owner[static_cast<size_t>(c)] = t;
            break;
        }
    }

    int written = 0;
    auto emit = [&](int32_t type, GestureProgress progress, const Vec3& position) {
        if (progress == GestureProgress::kNone || !enabled[type]) return;
        if (muted(type, time, position)) return;
        if (progress == GestureProgress::kCompleted) {
            const float cooldown =
                type == kGestureWave ? waveParams_.cooldown : pushParams_.cooldown;
            mutes_[static_cast<size_t>(nextMute_)] = {type, time + cooldown, position};
            nextMute_ = (nextMute_ + 1) % static_cast<int>(mutes_.size());
        }
        if (written < capacity) events[written++] = {type, progress, position};
    };
    for (int c = 0; c < count; ++c) {
        const int t = owner[static_cast<size_t>(c)];
        if (t < 0) continue;
        Track& track = tracks_[static_cast<size_t>(t)];
        const Vec3& p = candidates[c].position;
        const bool followed = track.hand != 0 && track.hand == candidates[c].hand;
        track.position = p;
        track.misses = 0;
        track.hand = candidates[c].hand;
        emit(kGestureWave, track.wave.update(time, p, followed), p);
        emit(kGestureClick, track.push.update(time, p), p);
    }
    return written;
}

}  // namespace tracker
