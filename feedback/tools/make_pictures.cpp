// Draws the feedback pictures and the program icon and writes them as
// 128 x 128 24-bit bitmaps:
//
//   make_pictures <folder>
//
// writes picture0.bmp .. picture9.bmp and icon.bmp into <folder>. The pictures
// are committed in feedback/resources/; run this (the feedback_pictures build
// target does) after changing a drawing, and commit the result.
//
// Every picture shows a pointing hand, index finger up, on black. The hand is
// built from rounded shapes described by signed distance functions and drawn
// back to front, each part filled and outlined with a 3-pixel stroke, so the
// curled fingers, thumb and index finger stay visible inside the silhouette.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "feedback/Bmp.h"

namespace {

using platform::kPictureSide;
using platform::PicturePixels;
using platform::pixelIndex;

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x7F7F7F;
constexpr uint32_t kGreen = 0x07AC50;
constexpr uint32_t kRed = 0xE02020;

constexpr double kStroke = 1.5;  // half the outline width

struct Vec {
    double x = 0;
    double y = 0;
};

Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}

double length(Vec v) {
    return std::hypot(v.x, v.y);
}

// Distance to the segment a-b, less the radius: a stadium.
double capsule(Vec p, Vec a, Vec b, double radius) {
    const Vec pa = p - a;
    const Vec ba = b - a;
    const double t =
        std::clamp((pa.x * ba.x + pa.y * ba.y) / (ba.x * ba.x + ba.y * ba.y), 0.0, 1.0);
    return length({pa.x - ba.x * t, pa.y - ba.y * t}) - radius;
}

double roundedBox(Vec p, Vec centre, Vec half, double radius) {
    const double qx = std::abs(p.x - centre.x) - half.x + radius;
    const double qy = std::abs(p.y - centre.y) - half.y + radius;
    return length({std::max(qx, 0.0), std::max(qy, 0.0)}) + std::min(std::max(qx, qy), 0.0) -
           radius;
}

double circle(Vec p, Vec centre, double radius) {
    return length(p - centre) - radius;
}

// The hand's parts, back to front, in the coordinates of a single hand that
// fills the picture (index fingertip near the top, cuff at the bottom).
using Shape = std::function<double(Vec)>;
const std::array<Shape, 7>& handParts() {
    static const std::array<Shape, 7> parts = {
        [](Vec p) {
            return roundedBox(p, {71, 118}, {17, 8}, 3);
        },  // cuff
        [](Vec p) {
            return roundedBox(p, {70, 92}, {26, 22}, 12);
        },  // palm
        [](Vec p) {
            return capsule(p, {93, 72}, {93, 84}, 7);
        },  // little finger
        [](Vec p) {
            return capsule(p, {80, 68}, {80, 80}, 8);
        },  // ring finger
        [](Vec p) {
            return capsule(p, {66, 66}, {66, 78}, 8);
        },  // middle finger
        [](Vec p) {
            return capsule(p, {48, 98}, {32, 82}, 7);
        },  // thumb
        [](Vec p) {
            return capsule(p, {52, 26}, {52, 80}, 8);
        },  // index finger
    };
    return parts;
}

// Where a hand goes: picture point = offset + scale * (hand point - pivot),
// with x mirrored for a left hand.
struct Placement {
    Vec offset{63, 72};
    double scale = 1.0;
    bool mirrored = false;
};
constexpr Vec kHandPivot{63, 72};

class Canvas {
  public:
    Canvas() { pixels_.fill(kBlack); }

    // Paints every pixel whose centre lies inside `shape` (distance below 0
    // in picture pixels): `outline` within the stroke of the edge, `fill`
    // further in.
    void paint(const Shape& shape, uint32_t fill, uint32_t outline) {
        for (int y = 0; y < kPictureSide; ++y) {
            for (int x = 0; x < kPictureSide; ++x) {
                const double d = shape({x + 0.5, y + 0.5});
                if (d >= kStroke) continue;
                pixels_[pixelIndex(x, y)] = d > -kStroke ? outline : fill;
            }
        }
    }

    void hand(const Placement& place, uint32_t fill, uint32_t outline) {
        for (const Shape& part : handParts()) {
            paint(
                [&](Vec p) {
                    Vec local{(p.x - place.offset.x) / place.scale,
                              (p.y - place.offset.y) / place.scale};
                    if (place.mirrored) local.x = -local.x;
                    return part({local.x + kHandPivot.x, local.y + kHandPivot.y}) * place.scale;
                },
                fill, outline);
        }
    }

    void dot(Vec centre) {
        paint([=](Vec p) { return circle(p, centre, 7); }, kRed, kRed);
    }

    // A mouse pointer, tip up and left, at the top right corner.
    void arrow() {
        const std::vector<Vec> outline = {{0, 0},  {0, 17}, {4, 13}, {7, 20},
                                          {9, 19}, {6, 12}, {12, 12}};
        constexpr double scale = 1.8;
        constexpr Vec tip{102, 6};
        std::vector<Vec> polygon;
        polygon.reserve(outline.size());
        for (const Vec v : outline) polygon.push_back({tip.x + v.x * scale, tip.y + v.y * scale});
        for (int y = 0; y < kPictureSide; ++y) {
            for (int x = 0; x < kPictureSide; ++x) {
                if (inside(polygon, {x + 0.5, y + 0.5})) pixels_[pixelIndex(x, y)] = kWhite;
            }
        }
    }

    void cross() {
        constexpr double half = 3;  // 6-pixel bars
        paint([](Vec p) { return capsule(p, {20, 20}, {108, 108}, half); }, kRed, kRed);
        paint([](Vec p) { return capsule(p, {108, 20}, {20, 108}, half); }, kRed, kRed);
    }

    // Three arcs spreading up and right from the fingertip, for the icon.
    void waves() {
        for (const double radius : {14.0, 24.0, 34.0}) {
            paint(
                [=](Vec p) {
                    const Vec v = p - Vec{60, 30};
                    if (v.x < 4 || v.y > -4) return 99.0;  // the upper right quarter only
                    return std::abs(length(v) - radius) - 1.0;
                },
                kWhite, kWhite);
        }
    }

    const PicturePixels& pixels() const { return pixels_; }

  private:
    static bool inside(const std::vector<Vec>& polygon, Vec p) {
        bool in = false;
        for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
            const Vec a = polygon[i];
            const Vec b = polygon[j];
            if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
                in = !in;
        }
        return in;
    }

    PicturePixels pixels_{};
};

enum class Hand { Outline, Green, Grey };

void drawHands(Canvas& canvas, int count, Hand look) {
    const uint32_t fill = look == Hand::Green ? kGreen : kBlack;
    const uint32_t outline = look == Hand::Grey ? kGrey : kWhite;
    if (count == 1) {
        canvas.hand({}, fill, outline);
        return;
    }
    constexpr double scale = 0.6;
    canvas.hand({{36, 80}, scale, true}, fill, outline);
    canvas.hand({{92, 80}, scale, false}, fill, outline);
}

constexpr Vec kTopDot{22, 18};
constexpr Vec kMiddleDot{64, 52};

// Picture by index, as the feedback display numbers them.
PicturePixels picture(int index) {
    Canvas canvas;
    switch (index) {
        case 0:  // no hand
            drawHands(canvas, 1, Hand::Grey);
            canvas.cross();
            break;
        case 1:  // one hand, not active
            drawHands(canvas, 1, Hand::Outline);
            break;
        case 2:  // one active hand holding still
            drawHands(canvas, 1, Hand::Green);
            break;
        case 3:  // one active hand moving
            drawHands(canvas, 1, Hand::Green);
            canvas.dot(kTopDot);
            break;
        case 4:  // mouse mode, gesture sub-mode off
            drawHands(canvas, 1, Hand::Outline);
            canvas.arrow();
            break;
        case 5:  // mouse mode, sub-mode on, holding still
            drawHands(canvas, 1, Hand::Green);
            canvas.arrow();
            break;
        case 6:  // mouse mode, sub-mode on, moving
            drawHands(canvas, 1, Hand::Green);
            canvas.arrow();
            canvas.dot(kTopDot);
            break;
        case 7:  // two hands, not active
            drawHands(canvas, 2, Hand::Outline);
            break;
        case 8:  // two active hands
            drawHands(canvas, 2, Hand::Green);
            break;
        case 9:  // two active hands, a two-hand rule under way
            drawHands(canvas, 2, Hand::Green);
            canvas.dot(kMiddleDot);
            break;
        default:
            break;
    }
    return canvas.pixels();
}

PicturePixels icon() {
    Canvas canvas;
    drawHands(canvas, 1, Hand::Green);
    canvas.waves();
    return canvas.pixels();
}

bool write(const std::string& path, const PicturePixels& pixels) {
    const std::vector<uint8_t> bytes = feedback::encodeBmp(pixels);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (int i = 0; i < 10; ++i) {
        if (!write(folder + "/picture" + std::to_string(i) + ".bmp", picture(i))) return 1;
    }
    return write(folder + "/icon.bmp", icon()) ? 0 : 1;
}
