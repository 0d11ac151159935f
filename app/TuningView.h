// The tuning view over the depth picture: for the gestures of the mode in
// use, each gesture's live measure as a bar that is full at its threshold,
// marked when the rule is armed and when it has just fired, with the hold
// state of the tracked hand and the state of the two-hand reference above.
// It is fed the recognisers' decisions like any other decision sink and
// keeps what it needs for the next drawing; nothing is allocated per frame.
#pragma once

#include <array>
#include <cstdint>

#include "gesture/Decisions.h"

struct TuningBar {
    int32_t gesture = 0;
    float measure = 0.0f;   // mm, 0 or more
    int32_t threshold = 0;  // mm
    bool judged = false;    // the recogniser judged it this frame
    bool armed = false;     // its rule is at or above the threshold
    bool fired = false;     // it sent an event within the last half second
};

struct TuningModel {
    static constexpr int kMaxBars = 10;
    int32_t hands = 0;
    bool twoHandGestures = false;  // the bars are two-hand gestures
    int32_t holdState = -1;        // of the tracked hand
    int32_t holdCount = 0;
    int32_t holdLength = 0;
    bool referenceSet = false;
    int32_t referenceCounter = 0;
    bool valid = false;
    int32_t strokeClass = 0;  // of the tracked hand's stroke this frame
    int32_t strokePoints = 0;
    int32_t strokeWidth = 0;  // mm
    int32_t strokeHeight = 0;
    int32_t strokeDepth = 0;
    TuningBar bars[kMaxBars];
    int barCount = 0;
};

class TuningView : public gesture::DecisionSink {
  public:
    void frameDecided(const gesture::FrameDecisions& d, const gesture::GestureFeatures& f,
                      EventRouter& router) override;
    const TuningModel& model() const { return model_; }
    // Draws the panel at the top left of the 720 x 480 window (OpenGL, window
    // pixels, y down); leaves the blend state as the overlay expects it.
    void draw() const;

  private:
    static constexpr int32_t kGestures = 30;
    static constexpr uint64_t kFiredFrames = 15;

    TuningModel model_;
    std::array<uint64_t, kGestures> firedUntil_{};
};
