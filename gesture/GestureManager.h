// Turns each frame's hand positions into gesture events: converts them to
// gesture coordinates, computes the frame's features (hold point, stillness,
// stroke, two-hand reference), runs the one-hand or two-hand recogniser, which
// fires configured events through the EventRouter, and reports the feedback
// flags. Owns the router (and through it both emitters and the cursor
// worker), the stroke history and all recogniser state, so a fresh manager
// is a fresh start. Main thread only; nothing is allocated per frame.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "config/EventRouter.h"
#include "gesture/Decisions.h"
#include "gesture/FeedbackState.h"
#include "gesture/GestureFeatures.h"
#include "gesture/HoldDetector.h"
#include "gesture/MouseMode.h"
#include "gesture/Point3.h"
#include "gesture/Trajectory.h"
#include "gesture/TwoHandReference.h"

namespace platform {
class Desktop;
}

namespace gesture {

class GestureManager {
  public:
    static constexpr int32_t kPoints = 3;  // two hands and their midpoint

    explicit GestureManager(platform::Desktop& desktop);
    // Prints the release message and lets go of every key, then every button.
    ~GestureManager();
    GestureManager(const GestureManager&) = delete;
    GestureManager& operator=(const GestureManager&) = delete;

    // One frame: world points in millimetres (entry 2 is the midpoint when two
    // hands are tracked) and the tracked hand count; fills `state`.
    void processFrame(std::span<const Point3f, kPoints> world, int32_t count, FeedbackState& state);

    // The steps of processFrame, open for tests.
    void computeFeatures(std::span<const Point3i, kPoints> points, int32_t count,
                         GestureFeatures& features);
    void recogniseOneHand(const Point3i& p, GestureFeatures& features, int32_t count);
    void recogniseTwoHands(const Point3i& p, GestureFeatures& features, int32_t count);

    // World millimetres to gesture coordinates: x + 5000, 5000 - y, z, each
    // truncated toward zero. Coordinates beyond +-1e6 mm (and NaN) are
    // treated as tracker garbage and clamped (NaN to 0).
    static Point3i toGesturePoint(const Point3f& world);

    EventRouter& router() { return *router_; }
    // Puts a newly loaded configuration in place of the current one; the
    // current router (its emitters and cursor worker) goes, and the mouse
    // mode starts afresh, as it does at start. The caller releases what the
    // old one held first.
    void replaceRouter(std::unique_ptr<EventRouter> router) {
        router_ = std::move(router);
        mouseMode_.reset();
    }
    const GestureFeatures& lastFeatures() const { return features_; }
    const MouseMode& mouseMode() const { return mouseMode_; }

    // Attaches a receiver of every frame's decisions (null detaches it). The
    // recognisers note their decisions only while one is attached.
    void setDecisionSink(DecisionSink* sink) { sink_ = sink; }
    const FrameDecisions& lastDecisions() const { return decisions_; }

    // Set by the viewer before the first frame.
    int32_t frameRate = 30;
    int32_t feedbackCode = 0;

  private:
    // Where a cursor path last saw its hand. The displacement is taken only
    // from a position seen in the frame just before; after start, a pause or
    // frames on another path the hand's first position moves nothing.
    struct CursorTrack {
        Point3i last;
        uint64_t frame = 0;  // frame number + 1 of the last visit, 0 = never
        Point3i step(const Point3i& p, uint64_t now);
    };

    bool active(int32_t gesture) { return router_->gestureActive(gesture) == 1; }
    bool anyActive(std::span<const int32_t> gestures);
    void cursorPath(const Point3i& p, const GestureFeatures& f);
    void gesturePath(const GestureFeatures& f, bool oneHandSet);
    void twoHandKeyboard(const GestureFeatures& f);
    // The gesture a two-hand block's measures point to, with its measure.
    TwoHandBlock blockCandidate(int block, const GestureFeatures& f);
    // Notes a router call for the decision sink.
    void note(int32_t gesture, int32_t value, int32_t result);
    void publishDecisions(int32_t count, const GestureFeatures& f);
    void clearHoldPoint();

    std::unique_ptr<EventRouter> router_;
    std::unique_ptr<Trajectory> trajectory_;
    HoldDetector holdDetector_;
    TwoHandReference reference_;

    // Frame state carried between frames.
    int32_t previousCount_ = 0;
    int32_t previousHolding_ = 0;
    float holdPoint_[3] = {0.0f, 0.0f, 0.0f};
    int32_t holdPointFlag_ = 0;

    MouseMode mouseMode_;
    CursorTrack cursorHand_;
    CursorTrack twoHandCursor_;

    DecisionSink* sink_ = nullptr;
    FrameDecisions decisions_;

    uint64_t frame_ = 0;
    Point3i points_[kPoints];
    GestureFeatures features_;
};

}  // namespace gesture
