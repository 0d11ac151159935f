// The tuning view over the depth picture: for the gestures of the mode in
// use, each gesture's live measure as a bar that is full at its threshold,
// marked when the rule is armed and when it has just fired, with the hold
// state of the tracked hand and the state of the two-hand reference above.
// It is fed the recognisers' decisions like any other decision sink and
// keeps what it needs for the next drawing; nothing is allocated per frame.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

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

// The panel's text: laid out piece by piece each frame, composed on the CPU
// from the font's glyphs into one opaque texture over the panel's colour
// (only the pieces that differ from the last frame's are painted and sent),
// and drawn as one quad per piece, each just the size of its text, pixel for
// pixel. Software OpenGL pays for every textured pixel (some nanoseconds
// each), so a quad over the whole panel, alpha-tested, cost three times as
// much. The glyphs are drawn once by GLUT into a framebuffer object
// of the current OpenGL context and read back; without framebuffer objects
// each piece falls back on GLUT's bitmap characters.
class TextLayer {
  public:
    static constexpr int kWidth = 512;  // texture size, pixels
    static constexpr int kHeight = 256;
    static constexpr int kMaxPieces = 32;
    static constexpr int kMaxLength = 63;

    // The text is drawn in white over this colour (0 to 1 each).
    TextLayer(float red, float green, float blue);
    ~TextLayer();
    TextLayer(const TextLayer&) = delete;
    TextLayer& operator=(const TextLayer&) = delete;

    // Starts the frame's text, placed with its top left at (left, top).
    void begin(int left, int top);
    // A piece with its baseline starting at (x, y) from the layer's top left.
    void add(int x, int y, const char* text);
    // Draws the frame's text.
    void end();

  private:
    static constexpr int kFirst = 32;
    static constexpr int kLast = 126;
    static constexpr int kCell = 16;

    struct Piece {
        int x = 0;
        int y = 0;
        char text[kMaxLength + 1]{};
    };
    struct Box {
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
    };

    bool build();
    // The layer's pixels a piece's glyphs cover.
    Box boxOf(const Piece& p) const;
    // Clears (or draws) a piece's pixels in the layer.
    void paint(const Piece& p, bool draw);
    // Sends the pixels of a box of the layer to the texture.
    void upload(const Box& b);

    uint32_t background_ = 0;             // as the layer's pixels hold it
    std::unique_ptr<uint32_t[]> pixels_;  // kWidth x kHeight BGRA, row 0 at the top
    std::unique_ptr<uint8_t[]> glyphs_;   // per glyph kCell x kCell, row 0 at the top
    int advance_[kLast + 1]{};
    int extent_[kLast + 1]{};  // columns of the glyph's cell that hold ink
    int inkTop_ = 0;           // rows of the cells that any glyph inks
    int inkBottom_ = kCell;
    Piece pieces_[kMaxPieces];
    int pieceCount_ = 0;
    Piece shown_[kMaxPieces];  // what the texture holds
    int shownCount_ = 0;
    int left_ = 0;
    int top_ = 0;
    unsigned int texture_ = 0;
    bool tried_ = false;
};

class TuningView : public gesture::DecisionSink {
  public:
    void frameDecided(const gesture::FrameDecisions& d, const gesture::GestureFeatures& f,
                      EventRouter& router) override;
    const TuningModel& model() const { return model_; }
    // Draws the panel at the top left of the 720 x 480 window (OpenGL, window
    // pixels, y down), opaque, without blending.
    void draw();

  private:
    static constexpr int32_t kGestures = 30;
    static constexpr uint64_t kFiredFrames = 15;

    static constexpr float kPanel[3] = {0.05f, 0.05f, 0.08f};  // its colour

    TuningModel model_;
    TextLayer text_{kPanel[0], kPanel[1], kPanel[2]};
    std::array<uint64_t, kGestures> firedUntil_{};
};
