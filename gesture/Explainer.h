// Says why a gesture did nothing: follows each one-hand stroke and each
// two-hand measure through the recognisers' decisions and, when one ends
// without an event, prints one "why: " line naming the gesture, what it
// measured against its threshold and why it ended. Conditions that last
// (hands not level, a gesture kept from being judged) are repeated at most
// every few seconds, and any one line at most once a second.
#pragma once

#include <array>
#include <cstdint>

#include "gesture/Decisions.h"

namespace gesture {

class Explainer : public DecisionSink {
  public:
    // frameRate turns frame counts into seconds.
    explicit Explainer(int32_t frameRate = 30);

    void frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                      EventRouter& router) override;

  private:
    static constexpr int32_t kGestures = 30;

    enum class End { Rest, Lost, Changed };

    // A one-hand stroke: from the first moving frame after a rest to the
    // next rest, the loss of the hand or an event.
    struct Stroke {
        bool open = false;
        bool fired = false;
        int32_t frames = 0;
        std::array<int32_t, kGestures> maxValue{};
        std::array<int32_t, kGestures> lastValue{};
        std::array<int32_t, kGestures> threshold{};
        std::array<bool, kGestures> judged{};
        std::array<bool, kGestures> armed{};
        float maxDx = 0.0f, maxDy = 0.0f, maxDz = 0.0f;  // largest hold deltas, signed
        int32_t depthInProgress = 0;                     // a depth gesture kept strokes waiting
        int32_t points = 0, width = 0, height = 0, depth = 0, strokeClass = 0;
        int32_t set = 0;  // RecognisedPath of the stroke
    };

    // A two-hand gesture's measure, from when it reaches half its threshold
    // until it falls back under a quarter of it or is no longer judged.
    struct Episode {
        bool open = false;
        bool fired = false;
        bool armed = false;
        int32_t maxValue = 0;
        int32_t threshold = 0;
    };

    void oneHandFrame(const FrameDecisions& d, const GestureFeatures& f, EventRouter& router);
    void closeStroke(End end, const FrameDecisions& d, EventRouter& router);
    void explainUnjudged(const Stroke& s, EventRouter& router);
    void twoHandFrame(const FrameDecisions& d, const GestureFeatures& f, EventRouter& router);
    void closeEpisode(int32_t gesture, const char* how, const FrameDecisions& d);
    // Prints the line unless the same kind of line for the same gesture was
    // printed within `repeatFrames` frames (for the end of a stroke or a
    // measure: unless that line said the same).
    __attribute__((format(printf, 5, 6))) void say(int32_t kind, int32_t gesture,
                                                   int32_t repeatFrames, const char* format, ...);

    int32_t frameRate_;
    uint64_t frame_ = 0;
    int32_t previousCount_ = 0;
    Stroke stroke_;
    std::array<Episode, kGestures> episodes_{};
    std::array<uint64_t, 8 * kGestures> lastSaid_{};
    std::array<uint64_t, 8 * kGestures> lastHash_{};
};

}  // namespace gesture
