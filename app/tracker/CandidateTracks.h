// Follows hand candidates from frame to frame and runs the focus-gesture detectors on each.
//
// Candidates are matched to the tracks of the previous frames greedily, nearest pair first,
// within `gate` millimetres; a candidate on a tracked hand keeps the track it had on that hand
// however far the hand moved, since the hand's follower vouches that it is the same hand, and
// the wave detector takes such a step as it comes (see WaveDetector). Unmatched candidates open
// new tracks and a track unmatched for more than `maxMisses` frames is dropped. Each track
// feeds its own wave and push detectors. A completed gesture of a type mutes that type within
// `muteRadius` of its position for the detector's cool-down, so one motion seen by two tracks
// is reported once.
#pragma once

#include <array>

#include "app/tracker/CandidateFinder.h"
#include "app/tracker/PushDetector.h"
#include "app/tracker/TrackerTypes.h"
#include "app/tracker/WaveDetector.h"

namespace tracker {

struct GestureEvent {
    int32_t type = 0;
    GestureProgress progress = GestureProgress::kNone;
    Vec3 position;
};

class CandidateTracks {
  public:
    static constexpr int kMaxTracks = 16;

    CandidateTracks(const WaveParams& wave, const PushParams& push, float gate = 150.0F,
                    int maxMisses = 3, float muteRadius = 250.0F);

    // Takes this frame's candidates; writes the gestures of the enabled types (indexed by
    // type) and returns how many.
    int update(double time, const Candidate* candidates, int count,
               const bool enabled[kGestureTypeCount], GestureEvent* events, int capacity);
    void clear();
    int activeTracks() const;

  private:
    struct Track {
        bool active = false;
        int misses = 0;
        int16_t hand = 0;  // the tracked hand its last candidate was on, 0 for none
        Vec3 position;
        WaveDetector wave;
        PushDetector push;
    };
    struct Mute {
        int32_t type = -1;
        double until = -1.0;
        Vec3 position;
    };
    bool muted(int32_t type, double time, const Vec3& position) const;

    WaveParams waveParams_;
    PushParams pushParams_;
    float gate_;
    int maxMisses_;
    float muteRadius_;
    std::array<Track, kMaxTracks> tracks_;
    std::array<Mute, 8> mutes_;
    int nextMute_ = 0;
};

}  // namespace tracker
