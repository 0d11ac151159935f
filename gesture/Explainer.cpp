#include "gesture/Explainer.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "config/EventRouter.h"
#include "config/Vocabulary.h"
#include "gesture/TwoHandReference.h"
#include "input/KeyboardEmitter.h"
#include "platform/Log.h"

namespace gesture {

namespace {

// Kinds of line, for the repeat limit.
enum Kind : int32_t {
    STROKE_END = 0,
    NOT_JUDGED = 1,
    REFERENCE = 2,
    BLOCKED = 3,
    NOT_LEVEL = 4,
    TWO_HAND_END = 5,
};

constexpr int32_t kOncePerSecond = 30;  // frames between two equal lines
constexpr int32_t kStrokeRepeat = 30;   // frames before one stroke line may repeat word for word
constexpr int32_t kLastingConditions = 90;  // frames between repeats of a lasting condition
constexpr float kMinStroke = 30.0f;         // mm a stroke must go to be explained
constexpr int32_t kMinStrokePoints = 5;     // a shorter stroke is not classified
constexpr int32_t kMaxPlanarDepth = 250;    // mm; deeper strokes are not sideways or up-down

double cm(float mm) {
    return static_cast<double>(mm) / 10.0;
}

double cm(int32_t mm) {
    return static_cast<double>(mm) / 10.0;
}

const char* word(int32_t gesture) {
    return gestureName(gesture);
}

bool hasRule(EventRouter& router, int32_t gesture) {
    return gesture >= 0 && gesture < GestureId::kCapacity && router.eventOfGesture[gesture] != 0;
}

// Gestures whose measure is a distance (not the hold or the cursor).
bool explained(int32_t gesture) {
    return gesture >= GestureId::TWO_HANDS_PUSH && gesture <= GestureId::HAND_DOWN;
}

bool onOneHandPath(int32_t path) {
    return path == RecognisedPath::HAND_SET || path == RecognisedPath::ONE_HAND_SET;
}

}  // namespace

Explainer::Explainer(int32_t frameRate) : frameRate_(frameRate > 0 ? frameRate : 30) {}

void Explainer::say(int32_t kind, int32_t gesture, int32_t repeatFrames, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    for (const char* c = line; *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ULL;
    }
    // The end of a stroke or a measure is said unless it repeats the last
    // line word for word; a lasting condition at most every repeatFrames.
    const bool ending = kind == STROKE_END || kind == NOT_JUDGED || kind == TWO_HAND_END;
    const size_t key = static_cast<size_t>(kind) * kGestures +
                       static_cast<size_t>(gesture >= 0 && gesture < kGestures ? gesture : 0);
    if (key < lastSaid_.size()) {
        const bool recent =
            lastSaid_[key] != 0 && frame_ < lastSaid_[key] + static_cast<uint64_t>(repeatFrames);
        if (recent && (!ending || lastHash_[key] == hash)) return;
        lastSaid_[key] = frame_;
        lastHash_[key] = hash;
    }
    logOwnLine("why: %s\n", line);
}

void Explainer::frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                             EventRouter& router) {
    frame_ = d.frame;
    oneHandFrame(d, f, router);
    twoHandFrame(d, f, router);
    previousCount_ = d.count;
}

void Explainer::oneHandFrame(const FrameDecisions& d, const GestureFeatures& f,
                             EventRouter& router) {
    Stroke& s = stroke_;
    const bool onPath = onOneHandPath(d.path);
    if (s.open) {
        if (d.count == 0) {
            closeStroke(End::Lost, d, router);
        } else if (d.count != previousCount_ || !onPath || d.path != s.set) {
            closeStroke(End::Changed, d, router);
        } else if (f.holding == 1) {
            closeStroke(End::Rest, d, router);
        }
    }
    if (!onPath || f.holding == 1) return;

    if (!s.open) {
        s = Stroke{};
        s.open = true;
        s.set = d.path;
    }
    ++s.frames;
    for (int32_t i = 0; i < d.judgedCount; ++i) {
        const Judgement& j = d.judged[i];
        if (j.gesture < 0 || j.gesture >= kGestures) continue;
        const auto g = static_cast<size_t>(j.gesture);
        if (!s.judged[g] || j.value > s.maxValue[g]) s.maxValue[g] = j.value;
        s.judged[g] = true;
        s.lastValue[g] = j.value;
        s.threshold[g] = j.threshold;
        if ((j.result & kResultActive) != 0) s.armed[g] = true;
        if ((j.result & kResultFired) != 0) s.fired = true;
    }
    const auto larger = [](float& kept, float now) {
        if (std::fabs(now) > std::fabs(kept)) kept = now;
    };
    larger(s.maxDx, f.holdDeltaX);
    larger(s.maxDy, f.holdDeltaY);
    larger(s.maxDz, f.holdDeltaZ);
    if (d.depthInProgress != 0) s.depthInProgress = d.depthInProgress;
    s.points = d.strokePoints;
    s.width = d.strokeWidth;
    s.height = d.strokeHeight;
    s.depth = d.strokeDepth;
    s.strokeClass = f.strokeClass;
    if (d.firedGesture >= 0) s.fired = true;
    if (s.fired) {
        // An event ends the stroke; the rest of the movement, up to the next
        // rest, belongs to it and is not explained.
        s = Stroke{};
        s.open = true;
        s.set = d.path;
        s.fired = true;
    }
}

void Explainer::closeStroke(End end, const FrameDecisions& d, EventRouter& router) {
    const Stroke s = stroke_;
    stroke_ = Stroke{};
    if (s.fired || d.firedGesture >= 0) return;

    // The judged gesture that came nearest its threshold.
    int32_t best = -1;
    double bestShare = -1.0;
    for (int32_t g = 0; g < kGestures; ++g) {
        const auto i = static_cast<size_t>(g);
        if (!s.judged[i] || s.threshold[i] <= 0 || !explained(g)) continue;
        const double share = static_cast<double>(s.maxValue[i]) / s.threshold[i];
        if (share > bestShare) {
            best = g;
            bestShare = share;
        }
    }
    if (best >= 0) {
        const auto i = static_cast<size_t>(best);
        const int32_t reached = s.maxValue[i];
        const int32_t threshold = s.threshold[i];
        if (s.armed[i]) {
            if (end == End::Rest) {
                say(STROKE_END, best, kStrokeRepeat,
                    "%s reached %.1f of %.0f cm, dropped: the hand rested %.1f s at the turn "
                    "before coming back",
                    word(best), cm(reached), cm(threshold),
                    static_cast<double>(d.holdLength) / frameRate_);
            } else if (end == End::Lost) {
                say(STROKE_END, best, kStrokeRepeat,
                    "%s reached %.1f of %.0f cm, dropped: the hand was lost before it came back",
                    word(best), cm(reached), cm(threshold));
            } else {
                say(STROKE_END, best, kStrokeRepeat,
                    "%s reached %.1f of %.0f cm, dropped: the hands changed before it came back",
                    word(best), cm(reached), cm(threshold));
            }
            return;
        }
        if (static_cast<float>(reached) >= kMinStroke && reached * 4 >= threshold) {
            const char* how = end == End::Lost               ? "then the hand was lost"
                              : end == End::Changed          ? "then the hands changed"
                              : s.lastValue[i] * 2 < reached ? "then came back"
                                                             : "then the hand rested there";
            say(STROKE_END, best, kStrokeRepeat, "%s reached %.1f of %.0f cm, %s", word(best),
                cm(reached), cm(threshold), how);
            return;
        }
    }
    explainUnjudged(s, router);
}

void Explainer::explainUnjudged(const Stroke& s, EventRouter& router) {
    // Only a sideways or up-and-down movement can have gone unjudged: depth
    // is judged from the dead zone on.
    const float ax = std::fabs(s.maxDx);
    const float ay = std::fabs(s.maxDy);
    if (std::max(ax, ay) < kMinStroke || std::fabs(s.maxDz) > std::max(ax, ay)) return;
    const bool oneHandSet = s.set == RecognisedPath::ONE_HAND_SET;
    const bool sideways = ax >= ay;
    int32_t gesture = 0;
    if (sideways) {
        gesture = s.maxDx > 0.0f ? (oneHandSet ? GestureId::ONE_HAND_LEFT : GestureId::HAND_LEFT)
                                 : (oneHandSet ? GestureId::ONE_HAND_RIGHT : GestureId::HAND_RIGHT);
    } else {
        gesture = s.maxDy > 0.0f ? (oneHandSet ? GestureId::ONE_HAND_UP : GestureId::HAND_UP)
                                 : (oneHandSet ? GestureId::ONE_HAND_DOWN : GestureId::HAND_DOWN);
    }
    if (!hasRule(router, gesture) || s.judged[static_cast<size_t>(gesture)]) return;
    const char* name = word(gesture);
    const char* vertical = s.maxDy > 0.0f ? "up" : "down";
    if (s.depthInProgress != 0) {
        say(NOT_JUDGED, gesture, kStrokeRepeat, "%s not judged while %s is active", name,
            word(s.depthInProgress));
    } else if (s.points < kMinStrokePoints) {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke was too short (%d frames, needs %d)", name, s.points,
            kMinStrokePoints);
    } else if (s.depth >= kMaxPlanarDepth) {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke went %.1f cm in depth (needs under %.0f)", name, cm(s.depth),
            cm(kMaxPlanarDepth));
    } else if (s.strokeClass == StrokeClass::DEPTH) {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke went mostly in depth (%.1f cm, and %.1f cm across, %.1f cm "
            "%s)",
            name, cm(s.depth), cm(s.width), cm(s.height), vertical);
    } else if (s.strokeClass == StrokeClass::CIRCULAR ||
               s.strokeClass == StrokeClass::CIRCULAR_MAX_AFTER_MIN) {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke was round (it went %.1f cm across and %.1f cm %s)", name,
            cm(s.width), cm(s.height), vertical);
    } else if (sideways) {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke was not sideways (it went %.1f cm across and %.1f cm %s)",
            name, cm(s.width), cm(s.height), vertical);
    } else {
        say(NOT_JUDGED, gesture, kStrokeRepeat,
            "%s not judged: the stroke was not up and down (it went %.1f cm %s and %.1f cm "
            "across)",
            name, cm(s.height), vertical, cm(s.width));
    }
}

void Explainer::twoHandFrame(const FrameDecisions& d, const GestureFeatures& f,
                             EventRouter& router) {
    const bool twoHands = d.count == 2 && d.path == RecognisedPath::TWO_HANDS;
    if (d.count == 2 && d.referenceAttempt == 1 && f.referenceSet == 0) {
        if (std::abs(d.handsDy) >= TwoHandReference::kMaxLevelDy) {
            say(REFERENCE, 0, kLastingConditions,
                "two-hand gestures wait for the reference: hands not level (%.1f cm apart in "
                "height, needs under %.0f)",
                cm(std::abs(d.handsDy)), cm(TwoHandReference::kMaxLevelDy));
        } else {
            say(REFERENCE, 0, kLastingConditions,
                "two-hand gestures wait for the reference: hands not at one depth (%.1f cm apart, "
                "needs under %.0f)",
                cm(std::abs(d.handsDz)), cm(TwoHandReference::kMaxLevelDz));
        }
    }

    // Which two-hand gestures were judged this frame, and with what.
    std::array<const Judgement*, kGestures> judged{};
    if (twoHands) {
        for (int32_t i = 0; i < d.judgedCount; ++i) {
            const int32_t g = d.judged[i].gesture;
            if (g >= 0 && g < kGestures) judged[static_cast<size_t>(g)] = &d.judged[i];
        }
    }
    for (int32_t g = GestureId::TWO_HANDS_PUSH; g <= GestureId::RIGHT_HAND_PUSH; ++g) {
        Episode& e = episodes_[static_cast<size_t>(g)];
        const Judgement* j = judged[static_cast<size_t>(g)];
        if (e.open) {
            if (!twoHands) {
                closeEpisode(
                    g, d.count == 0 ? "then the hands were lost" : "then the hands changed", d);
            } else if (j == nullptr) {
                // Its block either measured something else (it came back) or
                // was kept from judging it.
                const char* how = "then came back";
                for (const TwoHandBlock& b : d.blocks) {
                    if (b.gesture != g) continue;
                    if (b.blockedBy != 0) how = "then another two-hand gesture became active";
                    if (b.notLevel != 0) how = "then the hands were not level";
                }
                closeEpisode(g, how, d);
            } else if (j->value * 4 < e.threshold) {
                closeEpisode(g, "then came back", d);
            }
        }
        if (j == nullptr || j->threshold <= 0) continue;
        if (!e.open && j->value * 2 >= j->threshold) {
            e = Episode{};
            e.open = true;
            e.maxValue = j->value;
        }
        if (!e.open) continue;
        e.maxValue = std::max(e.maxValue, j->value);
        e.threshold = j->threshold;
        if ((j->result & kResultActive) != 0) e.armed = true;
        if ((j->result & kResultFired) != 0) e.fired = true;
    }

    if (!twoHands) return;
    for (const TwoHandBlock& b : d.blocks) {
        if (b.gesture == 0 || !hasRule(router, b.gesture)) continue;
        const int32_t threshold = router.gestureThreshold(b.gesture);
        if (threshold <= 0 || b.value < static_cast<float>(threshold)) continue;
        if (b.blockedBy != 0) {
            say(BLOCKED, b.gesture, kLastingConditions,
                "%s not judged while %s is active (it measured %.1f of %.0f cm)", word(b.gesture),
                word(b.blockedBy), cm(b.value), cm(threshold));
        } else if (b.notLevel != 0) {
            say(NOT_LEVEL, b.gesture, kLastingConditions,
                "%s not judged: hands not level (%.1f cm apart in %s, needs under %.0f)",
                word(b.gesture), cm(b.levelMeasure),
                b.gesture == GestureId::TWO_HANDS_UP || b.gesture == GestureId::TWO_HANDS_DOWN
                    ? "height"
                    : "depth",
                cm(b.levelLimit));
        }
    }
}

void Explainer::closeEpisode(int32_t gesture, const char* how, const FrameDecisions& d) {
    Episode& e = episodes_[static_cast<size_t>(gesture)];
    const Episode ended = e;
    e = Episode{};
    if (ended.fired) return;
    if (ended.armed) {
        if (d.firedGesture >= 0 && d.firedGesture != gesture) {
            say(TWO_HAND_END, gesture, kOncePerSecond,
                "%s reached %.1f of %.0f cm, dropped: cleared when %s fired", word(gesture),
                cm(ended.maxValue), cm(ended.threshold), word(d.firedGesture));
        } else {
            say(TWO_HAND_END, gesture, kOncePerSecond,
                "%s reached %.1f of %.0f cm, dropped: its rule was cleared before it came back",
                word(gesture), cm(ended.maxValue), cm(ended.threshold));
        }
        return;
    }
    say(TWO_HAND_END, gesture, kOncePerSecond, "%s reached %.1f of %.0f cm, %s", word(gesture),
        cm(ended.maxValue), cm(ended.threshold), how);
}

}  // namespace gesture
