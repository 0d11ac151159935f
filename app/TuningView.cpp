#include "app/TuningView.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
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

TextLayer::TextLayer(float red, float green, float blue)
    : pixels_(std::make_unique<uint32_t[]>(static_cast<size_t>(kWidth) * kHeight)),
      glyphs_(
          std::make_unique<uint8_t[]>(static_cast<size_t>(kLast - kFirst + 1) * kCell * kCell)) {
    const auto byte = [](float v) {
        return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    };
    // GL_BGRA with GL_UNSIGNED_INT_8_8_8_8_REV: alpha, red, green, blue from
    // the top byte down, whatever the machine's byte order.
    background_ = 0xff000000U | byte(red) << 16 | byte(green) << 8 | byte(blue);
}

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
        inkTop_ = kCell;
        inkBottom_ = 0;
        for (int c = kFirst; c <= kLast; ++c) {
            const int cell = c - kFirst;
            uint8_t* glyph = &glyphs_[static_cast<size_t>(cell) * kCell * kCell];
            for (int row = 0; row < kCell; ++row) {
                // The atlas's rows run bottom-up, the glyph's top-down.
                const int atlasY = (cell / 16) * kCell + (kCell - 1 - row);
                for (int col = 0; col < kCell; ++col) {
                    const int atlasX = (cell % 16) * kCell + col;
                    const uint8_t ink =
                        rgba[(static_cast<size_t>(atlasY) * kAtlasWidth + atlasX) * 4 + 3];
                    glyph[row * kCell + col] = ink;
                    if (ink == 0) continue;
                    extent_[c] = std::max(extent_[c], col + 1);
                    inkTop_ = std::min(inkTop_, row);
                    inkBottom_ = std::max(inkBottom_, row + 1);
                }
            }
        }
        if (inkTop_ >= inkBottom_) {
            inkTop_ = 0;
            inkBottom_ = kCell;
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
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        std::fill_n(pixels_.get(), static_cast<size_t>(kWidth) * kHeight, background_);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_BGRA,
                     GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.get());
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
    // Longer pieces are cut short (a copy, not a format: GCC warns of the
    // cut at -O2 and above).
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(kMaxLength));
    std::memcpy(p.text, text, length);
    p.text[length] = '\0';
}

TextLayer::Box TextLayer::boxOf(const Piece& p) const {
    int right = p.x;
    int x = p.x;
    for (const char* t = p.text; *t != '\0'; ++t) {
        const int c = static_cast<unsigned char>(*t);
        if (c < kFirst || c > kLast) continue;
        right = std::max(right, x + extent_[c]);
        x += advance_[c];
    }
    const int cellTop = p.y + kDescent - kCell;
    return Box{std::clamp(p.x, 0, kWidth), std::clamp(cellTop + inkTop_, 0, kHeight),
               std::clamp(right, 0, kWidth), std::clamp(cellTop + inkBottom_, 0, kHeight)};
}

void TextLayer::paint(const Piece& p, bool draw) {
    if (!draw) {
        const Box b = boxOf(p);
        for (int y = b.top; y < b.bottom; ++y) {
            uint32_t* row = &pixels_[static_cast<size_t>(y) * kWidth];
            std::fill(row + b.left, row + b.right, background_);
        }
        return;
    }
    const int top = p.y + kDescent - kCell;  // the glyph cells' top row
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
                pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(px)] = 0xffffffffU;
            }
        }
        x += advance_[c];
    }
}

void TextLayer::upload(const Box& b) {
    if (b.left >= b.right || b.top >= b.bottom) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, kWidth);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, b.left);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, b.top);
    glTexSubImage2D(GL_TEXTURE_2D, 0, b.left, b.top, b.right - b.left, b.bottom - b.top, GL_BGRA,
                    GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.get());
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
    // Pieces that changed in place are painted again one by one, and each
    // sent alone (their union would often be most of the panel); a layout
    // of another length is painted again as a whole.
    const bool relayout = pieceCount_ != shownCount_;
    if (relayout) {
        Box all{kWidth, kHeight, 0, 0};
        const auto grow = [&all](const Box& b) {
            if (b.left >= b.right || b.top >= b.bottom) return;
            all = Box{std::min(all.left, b.left), std::min(all.top, b.top),
                      std::max(all.right, b.right), std::max(all.bottom, b.bottom)};
        };
        for (int i = 0; i < shownCount_; ++i) {
            paint(shown_[i], false);
            grow(boxOf(shown_[i]));
        }
        for (int i = 0; i < pieceCount_; ++i) {
            paint(pieces_[i], true);
            grow(boxOf(pieces_[i]));
            shown_[i] = pieces_[i];
        }
        upload(all);
    } else {
        for (int i = 0; i < pieceCount_; ++i) {
            if (same(shown_[i], pieces_[i])) continue;
            const Box was = boxOf(shown_[i]);
            const Box now = boxOf(pieces_[i]);
            paint(shown_[i], false);
            paint(pieces_[i], true);
            shown_[i] = pieces_[i];
            upload(Box{std::min(was.left, now.left), std::min(was.top, now.top),
                       std::max(was.right, now.right), std::max(was.bottom, now.bottom)});
        }
    }
    shownCount_ = pieceCount_;

    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    constexpr float kU = 1.0f / kWidth;
    constexpr float kV = 1.0f / kHeight;
    glBegin(GL_QUADS);
    for (int i = 0; i < pieceCount_; ++i) {
        const Box b = boxOf(pieces_[i]);
        if (b.left >= b.right || b.top >= b.bottom) continue;
        const float u0 = static_cast<float>(b.left) * kU;
        const float u1 = static_cast<float>(b.right) * kU;
        const float v0 = static_cast<float>(b.top) * kV;
        const float v1 = static_cast<float>(b.bottom) * kV;
        glTexCoord2f(u0, v0);
        glVertex2i(left_ + b.left, top_ + b.top);
        glTexCoord2f(u1, v0);
        glVertex2i(left_ + b.right, top_ + b.top);
        glTexCoord2f(u1, v1);
        glVertex2i(left_ + b.right, top_ + b.bottom);
        glTexCoord2f(u0, v1);
        glVertex2i(left_ + b.left, top_ + b.bottom);
    }
    glEnd();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
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
        bar.measure = bar.measure > 0.0f ? bar.measure : 0.0f;  // no "-0.0"
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
    colour(kPanel[0], kPanel[1], kPanel[2]);
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
