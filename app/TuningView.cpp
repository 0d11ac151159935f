#include "app/TuningView.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

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
constexpr int kDescent = 4;  // glyph rows below the baseline

void colour(float r, float g, float b) {
    glColor4f(r, g, b, 1.0f);
}

// Inside glBegin(GL_QUADS).
void quad(int x0, int y0, int x1, int y1) {
    glVertex2i(x0, y0);
    glVertex2i(x1, y0);
    glVertex2i(x1, y1);
    glVertex2i(x0, y1);
}

const char* strokeKind(int32_t strokeClass, int32_t points) {
    switch (strokeClass) {
        case gesture::StrokeClass::HORIZONTAL:
            return "sideways";
        case gesture::StrokeClass::VERTICAL:
            return "up and down";
        case gesture::StrokeClass::CIRCULAR:
        case gesture::StrokeClass::CIRCULAR_MAX_AFTER_MIN:
            return "round";
        case gesture::StrokeClass::DEPTH:
            return "in depth";
        default:
            return points >= 5 ? "neither sideways nor up and down" : "not yet classified";
    }
}

}  // namespace

TextLayer::TextLayer()
    : pixels_(std::make_unique<uint8_t[]>(static_cast<size_t>(kWidth) * kHeight)),
      glyphs_(
          std::make_unique<uint8_t[]>(static_cast<size_t>(kLast - kFirst + 1) * kCell * kCell)) {}

TextLayer::~TextLayer() {
    if (texture_ != 0) glDeleteTextures(1, &texture_);
}

bool TextLayer::build() {
    tried_ = true;
    void* font = GLUT_BITMAP_HELVETICA_12;
    for (int c = kFirst; c <= kLast; ++c) advance_[c] = glutBitmapWidth(font, c);

    // Each glyph in a cell of its own, drawn by GLUT, baseline kDescent rows
    // up from the cell's bottom; 16 cells to a row.
    constexpr int kAtlasWidth = 256;
    constexpr int kAtlasHeight = 128;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    GLuint atlas = 0;
    glGenTextures(1, &atlas);
    glBindTexture(GL_TEXTURE_2D, atlas);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kAtlasWidth, kAtlasHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, atlas, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        std::vector<uint8_t> rgba(static_cast<size_t>(kAtlasWidth) * kAtlasHeight * 4);
        glViewport(0, 0, kAtlasWidth, kAtlasHeight);
        GLfloat clear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(clear[0], clear[1], clear[2], clear[3]);
        glDisable(GL_TEXTURE_2D);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        for (int c = kFirst; c <= kLast; ++c) {
            const int cell = c - kFirst;
            glWindowPos2i((cell % 16) * kCell, (cell / 16) * kCell + kDescent);
            glutBitmapCharacter(font, c);
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kAtlasWidth, kAtlasHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        for (int c = kFirst; c <= kLast; ++c) {
            const int cell = c - kFirst;
            uint8_t* glyph = &glyphs_[static_cast<size_t>(cell) * kCell * kCell];
            for (int row = 0; row < kCell; ++row) {
                // The atlas's rows run bottom-up, the glyph's top-down.
                const int atlasY = (cell / 16) * kCell + (kCell - 1 - row);
                for (int col = 0; col < kCell; ++col) {
                    const int atlasX = (cell % 16) * kCell + col;
                    glyph[row * kCell + col] =
                        rgba[(static_cast<size_t>(atlasY) * kAtlasWidth + atlasX) * 4 + 3];
                }
            }
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &atlas);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    if (complete) {
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        std::fill_n(pixels_.get(), static_cast<size_t>(kWidth) * kHeight, uint8_t{0});
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, kWidth, kHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                     pixels_.get());
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return complete;
}

void TextLayer::begin(int left, int top) {
    if (!tried_) build();
    left_ = left;
    top_ = top;
    pieceCount_ = 0;
}

void TextLayer::add(int x, int y, const char* text) {
    if (texture_ == 0) {
        glRasterPos2i(left_ + x, top_ + y);
        glutBitmapString(GLUT_BITMAP_HELVETICA_12, reinterpret_cast<const unsigned char*>(text));
        return;
    }
    if (pieceCount_ == kMaxPieces) return;
    Piece& p = pieces_[pieceCount_++];
    p.x = x;
    p.y = y;
    std::snprintf(p.text, sizeof p.text, "%s", text);
}

int TextLayer::widthOf(const Piece& p) const {
    int width = 0;
    for (const char* t = p.text; *t != '\0'; ++t) {
        const int c = static_cast<unsigned char>(*t);
        if (c >= kFirst && c <= kLast) width += advance_[c];
    }
    return width + kCell;  // the last glyph's cell may reach past its advance
}

void TextLayer::paint(const Piece& p, bool draw) {
    const int top = p.y + kDescent - kCell;  // the glyph cells' top row
    if (!draw) {
        const int x0 = std::clamp(p.x, 0, kWidth);
        const int x1 = std::clamp(p.x + widthOf(p), 0, kWidth);
        for (int y = std::max(top, 0); y < std::min(top + kCell, kHeight); ++y) {
            std::fill(&pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x0)],
                      &pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x1)],
                      uint8_t{0});
        }
        return;
    }
    int x = p.x;
    for (const char* t = p.text; *t != '\0'; ++t) {
        const int c = static_cast<unsigned char>(*t);
        if (c < kFirst || c > kLast) continue;
        const uint8_t* glyph = &glyphs_[static_cast<size_t>(c - kFirst) * kCell * kCell];
        for (int row = 0; row < kCell; ++row) {
            const int y = top + row;
            if (y < 0 || y >= kHeight) continue;
            for (int col = 0; col < kCell; ++col) {
                const int px = x + col;
                if (px < 0 || px >= kWidth || glyph[row * kCell + col] == 0) continue;
                pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(px)] = 255;
            }
        }
        x += advance_[c];
    }
}

void TextLayer::upload(int left, int top, int right, int bottom) {
    left = std::clamp(left, 0, kWidth);
    right = std::clamp(right, 0, kWidth);
    top = std::clamp(top, 0, kHeight);
    bottom = std::clamp(bottom, 0, kHeight);
    if (left >= right || top >= bottom) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, kWidth);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, left);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, top);
    glTexSubImage2D(GL_TEXTURE_2D, 0, left, top, right - left, bottom - top, GL_ALPHA,
                    GL_UNSIGNED_BYTE, pixels_.get());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
}

void TextLayer::end() {
    if (texture_ == 0) return;
    glBindTexture(GL_TEXTURE_2D, texture_);
    const auto same = [](const Piece& a, const Piece& b) {
        return a.x == b.x && a.y == b.y && std::strcmp(a.text, b.text) == 0;
    };
    // Pieces that changed in place are painted again one by one; a layout
    // of another length is painted again as a whole.
    const bool relayout = pieceCount_ != shownCount_;
    int left = kWidth, top = kHeight, right = 0, bottom = 0;
    const auto grow = [&](const Piece& p) {
        left = std::min(left, p.x);
        right = std::max(right, p.x + widthOf(p));
        top = std::min(top, p.y + kDescent - kCell);
        bottom = std::max(bottom, p.y + kDescent);
    };
    for (int i = 0; i < shownCount_; ++i) {
        if (relayout || !same(shown_[i], pieces_[i])) {
            paint(shown_[i], false);
            grow(shown_[i]);
        }
    }
    usedColumns_ = 0;
    for (int i = 0; i < pieceCount_; ++i) {
        if (relayout || !same(shown_[i], pieces_[i])) {
            paint(pieces_[i], true);
            grow(pieces_[i]);
            shown_[i] = pieces_[i];
        }
        usedColumns_ = std::max(usedColumns_, std::min(pieces_[i].x + widthOf(pieces_[i]), kWidth));
        usedRows_ = std::max(usedRows_, std::min(pieces_[i].y + kDescent, kHeight));
    }
    shownCount_ = pieceCount_;
    upload(left, top, right, bottom);
    if (usedRows_ == 0 || usedColumns_ == 0) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    const float u = static_cast<float>(usedColumns_) / kWidth;
    const float v = static_cast<float>(usedRows_) / kHeight;
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2i(left_, top_);
    glTexCoord2f(u, 0.0f);
    glVertex2i(left_ + usedColumns_, top_);
    glTexCoord2f(u, v);
    glVertex2i(left_ + usedColumns_, top_ + usedRows_);
    glTexCoord2f(0.0f, v);
    glVertex2i(left_, top_ + usedRows_);
    glEnd();
    glDisable(GL_ALPHA_TEST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

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

void TuningView::draw() {
    const TuningModel& m = model_;
    // Opaque, in two batches: the panel with its bars (outlines as thin
    // quads: software OpenGL draws lines slowly), then the text.
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBegin(GL_QUADS);
    colour(0.05f, 0.05f, 0.08f);
    quad(kLeft, kTop, kLeft + kWidth, kTop + kHeader + m.barCount * kRow + 4);
    for (int i = 0; i < m.barCount; ++i) {
        const TuningBar& bar = m.bars[i];
        const float share = bar.threshold > 0
                                ? std::min(bar.measure / static_cast<float>(bar.threshold), 1.0f)
                                : 0.0f;
        const int x0 = kLeft + kBarLeft;
        const int y0 = kTop + kHeader + i * kRow + 2;
        const int x1 = x0 + kBarWidth;
        const int y1 = y0 + kBarHeight;
        if (bar.fired) {
            colour(1.0f, 1.0f, 0.3f);
        } else if (bar.armed) {
            colour(1.0f, 0.55f, 0.0f);
        } else if (bar.judged) {
            colour(0.2f, 0.75f, 1.0f);
        } else {
            colour(0.35f, 0.45f, 0.6f);
        }
        quad(x0, y0, x0 + static_cast<int>(share * kBarWidth), y1);
        colour(0.3f, 0.6f, 1.0f);
        quad(x0, y0 - 1, x1, y0);
        quad(x0, y1, x1, y1 + 1);
        quad(x0 - 1, y0 - 1, x0, y1 + 1);
        // The threshold: the bar's right end, marked a little beyond it.
        colour(1.0f, 1.0f, 1.0f);
        quad(x1, y0 - 3, x1 + 2, y1 + 3);
    }
    glEnd();

    char line[96];
    text_.begin(kLeft, kTop);
    // The tracked hand's hold state, and its stroke or the two-hand reference.
    if (m.hands == 0) {
        std::snprintf(line, sizeof line, "no hand seen");
    } else if (m.hands > 2) {
        std::snprintf(line, sizeof line, "%d hands: nothing is recognised", m.hands);
    } else if (m.holdState == 1) {
        std::snprintf(line, sizeof line, "hold: holding still");
    } else if (m.holdState == 0) {
        std::snprintf(line, sizeof line, "hold: settling %d of %d frames", m.holdCount,
                      m.holdLength);
    } else {
        std::snprintf(line, sizeof line, "hold: moving%s",
                      m.valid || m.hands == 2 ? "" : " (hold still first)");
    }
    colour(1.0f, 1.0f, 1.0f);  // for the bitmap fallback
    text_.add(6, 15, line);
    if (m.hands == 1 && m.holdState != 1) {
        std::snprintf(
            line, sizeof line, "stroke: %s (%.1f x %.1f x %.1f cm)",
            strokeKind(m.strokeClass, m.strokePoints), static_cast<double>(m.strokeWidth) / 10.0,
            static_cast<double>(m.strokeHeight) / 10.0, static_cast<double>(m.strokeDepth) / 10.0);
        text_.add(6, 15 + kRow, line);
    } else if (m.hands == 2) {
        if (m.referenceSet) {
            std::snprintf(line, sizeof line, "two-hand reference: set");
        } else {
            std::snprintf(line, sizeof line, "two-hand reference: waiting (%d of %d frames)",
                          m.referenceCounter, gesture::TwoHandReference::kFramesBeforeAttempt + 1);
        }
        text_.add(6, 15 + kRow, line);
    }
    for (int i = 0; i < m.barCount; ++i) {
        const TuningBar& bar = m.bars[i];
        const int baseline = kHeader + i * kRow + 12;
        text_.add(6, baseline, gestureName(bar.gesture));
        std::snprintf(line, sizeof line, "%.1f/%d%s", static_cast<double>(bar.measure) / 10.0,
                      bar.threshold / 10,
                      bar.fired   ? " fired"
                      : bar.armed ? " armed"
                                  : "");
        text_.add(kBarLeft + kBarWidth + 6, baseline, line);
    }
    text_.end();
}
