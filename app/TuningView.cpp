#include "app/TuningView.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cstdio>

#include "config/EventRouter.h"
#include "config/Vocabulary.h"
#include "gesture/TwoHandReference.h"

using gesture::FrameDecisions;
using gesture::GestureFeatures;

namespace {

constexpr int32_t kTwoHandGestures[] = {GestureId::TWO_HANDS_PUSH, GestureId::TWO_HANDS_BACK,
                                        GestureId::TWO_HANDS_UP,   GestureId::TWO_HANDS_DOWN,
                                        GestureId::TWO_HANDS_OPEN, GestureId::TWO_HANDS_CLOSE,
                                        GestureId::TURN_LEFT,      GestureId::TURN_RIGHT,
                                        GestureId::LEFT_HAND_PUSH, GestureId::RIGHT_HAND_PUSH};
constexpr int32_t kHandGestures[] = {GestureId::HAND_PUSH, GestureId::HAND_BACK,
                                     GestureId::HAND_LEFT, GestureId::HAND_RIGHT,
                                     GestureId::HAND_UP,   GestureId::HAND_DOWN};
constexpr int32_t kOneHandGestures[] = {GestureId::ONE_HAND_PUSH, GestureId::ONE_HAND_BACK,
                                        GestureId::ONE_HAND_LEFT, GestureId::ONE_HAND_RIGHT,
                                        GestureId::ONE_HAND_UP,   GestureId::ONE_HAND_DOWN};

// The distance from the hold point that a one-hand gesture is measured by,
// shown while the recogniser does not judge it.
float oneHandDistance(int32_t gesture, const GestureFeatures& f) {
    const int32_t role = gesture >= GestureId::HAND_PUSH ? gesture - GestureId::HAND_PUSH
                                                         : gesture - GestureId::ONE_HAND_PUSH;
    switch (role) {
        case 0:
            return -f.holdDeltaZ;
        case 1:
            return f.holdDeltaZ;
        case 2:
            return f.holdDeltaX;
        case 3:
            return -f.holdDeltaX;
        case 4:
            return f.holdDeltaY;
        default:
            return -f.holdDeltaY;
    }
}

// Panel geometry, window pixels.
constexpr int kLeft = 8;
constexpr int kTop = 8;
constexpr int kWidth = 390;
constexpr int kRow = 20;
constexpr int kHeader = 2 * kRow + 4;
constexpr int kBarLeft = 132;
constexpr int kBarWidth = 160;  // the threshold
constexpr int kBarHeight = 12;

void colour(float r, float g, float b, float a = 1.0f) {
    glColor4f(r, g, b, a);
}

void text(int x, int y, const char* s) {
    glRasterPos2i(x, y);
    glutBitmapString(GLUT_BITMAP_HELVETICA_12, reinterpret_cast<const unsigned char*>(s));
}

void box(int x0, int y0, int x1, int y1, bool filled) {
    glBegin(filled ? GL_QUADS : GL_LINE_LOOP);
    glVertex2i(x0, y0);
    glVertex2i(x1, y0);
    glVertex2i(x1, y1);
    glVertex2i(x0, y1);
    glEnd();
}

}  // namespace

void TuningView::frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                              EventRouter& router) {
    TuningModel& m = model_;
    m = TuningModel{};
    m.hands = d.count;
    m.holdState = d.holdState;
    m.holdCount = d.holdCount;
    m.holdLength = d.holdLength;
    m.referenceSet = d.referenceSet != 0;
    m.referenceCounter = d.referenceCounter;
    m.valid = f.valid != 0;
    m.strokeClass = f.strokeClass;
    m.strokePoints = d.strokePoints;
    m.strokeWidth = d.strokeWidth;
    m.strokeHeight = d.strokeHeight;
    m.strokeDepth = d.strokeDepth;
    if (d.count < 1 || d.count > 2) return;

    m.twoHandGestures = d.count == 2 && f.twoHandMode == InputMode::KEYBOARD_MODE;
    const bool oneHandSet =
        d.path == gesture::RecognisedPath::ONE_HAND_SET ||
        (d.path != gesture::RecognisedPath::HAND_SET && f.oneHandMode == InputMode::MOUSE_MODE);
    const int32_t* gestures = m.twoHandGestures ? kTwoHandGestures
                              : oneHandSet      ? kOneHandGestures
                                                : kHandGestures;
    const int count = m.twoHandGestures ? 10 : 6;
    for (int i = 0; i < count && m.barCount < TuningModel::kMaxBars; ++i) {
        const int32_t g = gestures[i];
        if (router.eventOfGesture[g] == 0) continue;
        TuningBar& bar = m.bars[m.barCount++];
        bar.gesture = g;
        bar.threshold = router.gestureThreshold(g);
        bar.armed = router.gestureActive(g) == 1;
        if (const gesture::Judgement* j = d.judgementOf(g)) {
            bar.judged = true;
            bar.measure = static_cast<float>(j->value);
            if ((j->result & kResultFired) != 0)
                firedUntil_[static_cast<size_t>(g)] = d.frame + kFiredFrames;
        } else if (m.twoHandGestures) {
            for (const gesture::TwoHandBlock& b : d.blocks) {
                if (b.gesture == g) bar.measure = b.value;
            }
        } else {
            bar.measure = oneHandDistance(g, f);
        }
        bar.measure = std::max(bar.measure, 0.0f);
        bar.fired = d.frame < firedUntil_[static_cast<size_t>(g)];
    }
}

void TuningView::draw() const {
    const TuningModel& m = model_;
    char line[96];
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLineWidth(1.5f);
    colour(0.0f, 0.0f, 0.0f, 0.6f);
    box(kLeft, kTop, kLeft + kWidth, kTop + kHeader + m.barCount * kRow + 4, true);

    // The tracked hand's hold state, and the two-hand reference.
    if (m.hands == 0) {
        std::snprintf(line, sizeof line, "no hand seen");
    } else if (m.hands > 2) {
        std::snprintf(line, sizeof line, "%d hands: nothing is recognised", m.hands);
    } else if (m.holdState == 1) {
        std::snprintf(line, sizeof line, "hold: holding still%s",
                      m.valid || m.hands == 2 ? "" : " (the rest point is taken)");
    } else if (m.holdState == 0) {
        std::snprintf(line, sizeof line, "hold: settling %d of %d frames", m.holdCount,
                      m.holdLength);
    } else {
        std::snprintf(line, sizeof line, "hold: moving%s",
                      m.valid || m.hands == 2 ? "" : " (hold still first)");
    }
    colour(1.0f, 1.0f, 1.0f);
    text(kLeft + 6, kTop + 15, line);
    if (m.hands == 1 && m.holdState != 1) {
        const char* kind = "not yet classified";
        switch (m.strokeClass) {
            case gesture::StrokeClass::HORIZONTAL:
                kind = "sideways";
                break;
            case gesture::StrokeClass::VERTICAL:
                kind = "up and down";
                break;
            case gesture::StrokeClass::CIRCULAR:
            case gesture::StrokeClass::CIRCULAR_MAX_AFTER_MIN:
                kind = "round";
                break;
            case gesture::StrokeClass::DEPTH:
                kind = "in depth";
                break;
            default:
                if (m.strokePoints >= 5) kind = "neither sideways nor up and down";
                break;
        }
        std::snprintf(line, sizeof line, "stroke: %s (%.1f x %.1f x %.1f cm)", kind,
                      static_cast<double>(m.strokeWidth) / 10.0,
                      static_cast<double>(m.strokeHeight) / 10.0,
                      static_cast<double>(m.strokeDepth) / 10.0);
        colour(0.8f, 0.9f, 1.0f);
        text(kLeft + 6, kTop + 15 + kRow, line);
    }
    if (m.hands == 2) {
        if (m.referenceSet) {
            std::snprintf(line, sizeof line, "two-hand reference: set");
        } else {
            std::snprintf(line, sizeof line, "two-hand reference: waiting (%d of %d frames)",
                          m.referenceCounter, gesture::TwoHandReference::kFramesBeforeAttempt + 1);
        }
        colour(m.referenceSet ? 0.6f : 1.0f, 1.0f, m.referenceSet ? 0.6f : 0.4f);
        text(kLeft + 6, kTop + 15 + kRow, line);
    }

    for (int i = 0; i < m.barCount; ++i) {
        const TuningBar& bar = m.bars[i];
        const int top = kTop + kHeader + i * kRow;
        colour(1.0f, 1.0f, 1.0f);
        text(kLeft + 6, top + 12, gestureName(bar.gesture));
        const float share = bar.threshold > 0
                                ? std::min(bar.measure / static_cast<float>(bar.threshold), 1.0f)
                                : 0.0f;
        const int x0 = kLeft + kBarLeft;
        const int y0 = top + 2;
        if (bar.fired) {
            colour(1.0f, 1.0f, 0.3f);
        } else if (bar.armed) {
            colour(1.0f, 0.55f, 0.0f);
        } else if (bar.judged) {
            colour(0.2f, 0.75f, 1.0f);
        } else {
            colour(0.35f, 0.45f, 0.6f);
        }
        box(x0, y0, x0 + static_cast<int>(share * kBarWidth), y0 + kBarHeight, true);
        colour(0.3f, 0.6f, 1.0f);
        box(x0, y0, x0 + kBarWidth, y0 + kBarHeight, false);
        // The threshold: the bar's right end, marked a little beyond it.
        colour(1.0f, 1.0f, 1.0f);
        glBegin(GL_LINES);
        glVertex2i(x0 + kBarWidth, y0 - 2);
        glVertex2i(x0 + kBarWidth, y0 + kBarHeight + 2);
        glEnd();
        std::snprintf(line, sizeof line, "%.1f/%d%s", static_cast<double>(bar.measure) / 10.0,
                      bar.threshold / 10,
                      bar.fired   ? " fired"
                      : bar.armed ? " armed"
                                  : "");
        text(x0 + kBarWidth + 6, top + 12, line);
    }
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_BLEND);
}
