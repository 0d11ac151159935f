// What the recognisers decided in one frame, as they decided it: every
// measure they passed to the router with the threshold and the result it
// gave, what they left unjudged and why, and the state of the hold detector,
// the stroke and the two-hand reference. The manager fills it only while a
// DecisionSink is attached; without one none of this is written.
#pragma once

#include <cstdint>

#include "gesture/GestureFeatures.h"
#include "gesture/MouseMode.h"

class EventRouter;

namespace gesture {

// Which path the recognisers took this frame.
namespace RecognisedPath {
enum : int32_t {
    NONE = 0,          // nothing ran (no hand, three hands, or not valid yet)
    HAND_SET = 1,      // one-hand gestures, HAND_ words
    ONE_HAND_SET = 2,  // one-hand gestures, ONE_HAND_ words (mouse gesture sub-mode)
    CURSOR = 3,        // the hand steers the pointer
    TWO_HANDS = 4,     // two-hand gestures (keyboard mode)
};
}

// Why rule states were cleared during the frame.
namespace Cleared {
enum : int32_t {
    NONE = 0,
    REST = 1,        // the hand came to rest: a new hold point
    HANDS_LOST = 2,  // a frame without hands
};
}

struct Judgement {
    int32_t gesture = 0;
    int32_t value = 0;      // the measure given to the router, mm
    int32_t threshold = 0;  // the gesture's threshold, mm (0: no rule)
    int32_t result = 0;     // the router's result bits
};

// One block of the two-hand recogniser: the gesture its measures pointed to
// and the measure, whether it was judged, and what stopped it otherwise.
struct TwoHandBlock {
    int32_t gesture = 0;        // 0: the measures pointed to no gesture
    float value = 0.0f;         // the measure it has (or would have been judged with)
    int32_t blockedBy = 0;      // an active gesture of another block, or 0
    int32_t notLevel = 0;       // 1: the hands' difference kept it from being judged
    float levelMeasure = 0.0f;  // that difference, mm
    float levelLimit = 0.0f;    // and the limit it must stay under, mm
};

struct FrameDecisions {
    static constexpr int32_t kMaxJudgements = 12;
    static constexpr int32_t kBlocks = 5;

    uint64_t frame = 0;  // 1 for the first frame processed
    int32_t count = 0;   // hands this frame
    int32_t path = RecognisedPath::NONE;
    Judgement judged[kMaxJudgements];
    int32_t judgedCount = 0;
    int32_t cleared = Cleared::NONE;
    int32_t firedGesture = -1;  // the last gesture whose rule sent an event, or -1

    // One-hand gesture path.
    int32_t depthInProgress = 0;  // push or back (this gesture) active: planar strokes wait
    int32_t depthHeld = 0;        // active depth gesture not judged: the stroke is not deep

    // Two-hand keyboard path.
    TwoHandBlock blocks[kBlocks];

    // Hold detector and stroke of the tracked hand.
    int32_t holdState = -1;  // -1 restarted, 0 settling, 1 holding
    int32_t holdCount = 0;
    int32_t holdLength = 0;
    int32_t strokePoints = 0;
    int32_t strokeWidth = 0;
    int32_t strokeHeight = 0;
    int32_t strokeDepth = 0;

    // Two-hand reference.
    int32_t referenceSet = 0;      // a reference exists after this frame
    int32_t referenceCounter = 0;  // two-hand frames since the last attempt
    int32_t referenceAttempt = 0;  // an attempt was made this frame
    int32_t handsDy = 0;           // raw hand differences the attempt looked at, mm
    int32_t handsDz = 0;

    // The one-hand mouse mode after this frame.
    MouseMode::State mouseMode = MouseMode::State::POINTER;

    void addJudgement(int32_t gesture, int32_t value, int32_t threshold, int32_t result) {
        if (judgedCount < kMaxJudgements) {
            judged[judgedCount++] = Judgement{gesture, value, threshold, result};
        }
    }
    const Judgement* judgementOf(int32_t gesture) const {
        for (int32_t i = 0; i < judgedCount; ++i) {
            if (judged[i].gesture == gesture) return &judged[i];
        }
        return nullptr;
    }
};

// Receives every processed frame's decisions. The router is given for its
// rules (thresholds, which gestures have rules); it must not be changed.
class DecisionSink {
  public:
    virtual ~DecisionSink() = default;
    virtual void frameDecided(const FrameDecisions& decisions, const GestureFeatures& features,
                              EventRouter& router) = 0;
};

}  // namespace gesture

namespace gesture {

// Passes each frame's decisions to a few sinks in turn.
class DecisionFanout : public DecisionSink {
  public:
    static constexpr int kMaxSinks = 4;
    // Ignores null and sinks beyond kMaxSinks.
    void add(DecisionSink* sink) {
        if (sink != nullptr && count_ < kMaxSinks) sinks_[count_++] = sink;
    }
    void clear() { count_ = 0; }
    bool empty() const { return count_ == 0; }
    void frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                      EventRouter& router) override {
        for (int i = 0; i < count_; ++i) sinks_[i]->frameDecided(d, f, router);
    }

  private:
    DecisionSink* sinks_[kMaxSinks]{};
    int count_ = 0;
};

}  // namespace gesture
