// The hand tracker without any device: depth frames in, hands and focus gestures out.
//
// Each call to process() takes one depth frame with its time stamp and
//  1. follows every tracked hand into the new frame (HandFollower), smooths its position and
//     counts the time it has gone without support; a hand without support for `lostAfter`
//     seconds is reported once as lost and dropped, unless it was last seen at the image's
//     edge: such a hand has left the view, is reported without kHandTracked (kHandCoasting
//     only) and followed again from a hand candidate that comes up within the widened search
//     radius of where it left, until `outsideFor` seconds have passed;
//  2. when a focus gesture type is enabled, looks for hand candidates (CandidateFinder), follows
//     them (CandidateTracks) and reports the waves and pushes they make; a candidate on a hand
//     found in this frame is marked with the hand's id, so that its path holds however fast
//     the hand moves.
// startHandTracking() adds a hand at a position (typically a gesture's) to be followed from the
// next frame on, unless a tracked hand is already within `duplicateDistance` of it.
//
// Smoothing: with factor f in [0, 1) every reported position moves by (1 - f) of the way from
// its last value to the new measurement, s = s + (1 - f) (p - s). f = 0 reports the
// measurements as they are; the time constant at 30 frames per second is -33.3 ms / ln(f):
// 0.05 gives 11 ms, 0.5 gives 48 ms, 0.8 gives 149 ms, 0.95 gives 650 ms.
//
// Everything is allocated by the constructor and configure(); process() allocates nothing.
// Not thread-safe: one thread drives a core.
#pragma once

#include <array>
#include <cstdint>

#include "app/tracker/Background.h"
#include "app/tracker/CameraModel.h"
#include "app/tracker/CandidateFinder.h"
#include "app/tracker/CandidateTracks.h"
#include "app/tracker/HandFollower.h"
#include "app/tracker/PushDetector.h"
#include "app/tracker/TrackerTypes.h"
#include "app/tracker/WaveDetector.h"

namespace tracker {

struct TrackerParams {
    CandidateParams candidates;
    WaveParams wave;
    PushParams push;
    FollowParams follow;
    float candidateGate = 150.0F;  // mm a candidate may move between frames
    float lostAfter = 0.6F;        // s without support before a hand is lost
    float outsideFor = 2.5F;       // s without support before a hand that left the view is lost
    float edgeBand = 100.0F;       // mm from the image edge within which a hand may leave the view
    float keepRadius = 200.0F;     // mm around a tracked hand that does not become background
    float duplicateDistance = 150.0F;  // mm: a start request this close to a hand adds none
    float surfaceToCentre = 11.0F;     // mm from the visible hand surface to the hand's centre
    float frameInterval = 1.0F / 30;   // s, when time stamps do not tell
};

enum class StartResult { kStarted, kAlreadyTracked, kNoRoom, kBadPosition };

class HandTrackerCore {
  public:
    explicit HandTrackerCore(const TrackerParams& params = {});
    // The follower refers to the core's own background.
    HandTrackerCore(const HandTrackerCore&) = delete;
    HandTrackerCore& operator=(const HandTrackerCore&) = delete;

    // Sets the stream geometry (resolution and field of view). Allocates; call it when the
    // stream starts or changes, not per frame. Drops every hand and candidate.
    void configure(const CameraModel& camera);
    const CameraModel& camera() const { return camera_; }

    // Processes one frame taken at `timestampUs` microseconds; fills `out`.
    void process(const DepthView& frame, uint64_t timestampUs, TrackerOutput& out);

    StartResult startHandTracking(const Vec3& position, int16_t* id);
    // Drops a hand; it is reported lost in the next frame. False when no such hand.
    bool stopHandTracking(int16_t id);

    void setGestureEnabled(int32_t type, bool enabled);
    bool gestureEnabled(int32_t type) const;

    // Clamped to [0, 0.999].
    void setSmoothingFactor(float factor);
    float smoothingFactor() const { return smoothing_; }

    int handCount() const;
    const TrackerParams& params() const { return params_; }

  private:
    enum class Phase { kFree, kNew, kTracked, kLost };
    struct Hand {
        Phase phase = Phase::kFree;
        int16_t id = 0;
        Vec3 raw;       // last measured (or predicted) centre
        Vec3 smoothed;  // reported position
        Vec3 velocity;  // mm/s
        Vec3 prediction;
        double lastSupport = 0;  // time of the last frame with support
        bool supported = false;  // found in the last frame
        bool measured = false;   // found in any frame yet
        bool outside = false;    // left the view through the image's edge, at `lastSeen`
        Vec3 lastSeen;           // the last measured centre
    };

    static bool isActive(const Hand& h) {
        return h.phase == Phase::kNew || h.phase == Phase::kTracked;
    }
    void followHands(const DepthView& frame, double time, float dt);
    void reportHands(TrackerOutput& out);
    void keepHandsOutOfBackground(const DepthView& frame);
    bool nearImageEdge(const Vec3& p) const;
    // Hands out of the view that a candidate of this frame brings back.
    void bringBackHands(double time, int found);
    // Marks the candidate each hand found in this frame is on, the one nearest it within
    // `duplicateDistance`.
    void markHandCandidates(int found);
    // Follows a hand that was out of the view again from `at`.
    void bringBack(Hand& h, const Vec3& at, double time);
    void findGestures(const DepthView& frame, double time, TrackerOutput& out);
    int16_t nextId();

    TrackerParams params_;
    CameraModel camera_;
    CandidateFinder finder_;
    CandidateTracks tracks_;
    HandFollower follower_;
    Background background_;
    std::array<Hand, kMaxHands> hands_;
    std::array<Candidate, CandidateFinder::kMaxCandidates> candidates_;
    std::array<GestureEvent, kMaxGestures> events_;
    bool enabled_[kGestureTypeCount] = {false, false};
    float smoothing_ = 0.0F;
    int16_t lastId_ = 0;
    bool started_ = false;
    uint64_t lastTimestamp_ = 0;
    double time_ = 0;  // seconds since the first frame
};

}  // namespace tracker
