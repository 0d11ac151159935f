// The realistic people and sensor: hands with fingers, sleeves and seated bodies, the
// realistic noise model, other frame rates, and the plain scenes rendering as they always did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/Renderer.h"
#include "tests/sim/RenderedFrame.h"

namespace {

using simtest::Frame;
using simtest::parse;
using simtest::render;

// Runs of a label along row j within [i0, i1).
int runs(const Frame& f, int j, uint8_t label, int i0 = 0, int i1 = -1) {
    if (i1 < 0) i1 = f.width;
    int count = 0;
    bool inside = false;
    for (int i = std::max(0, i0); i < std::min(f.width, i1); ++i) {
        const bool on = f.label(i, j) == label;
        count += on && !inside;
        inside = on;
    }
    return count;
}

TEST(ShapedHands, FingersSpreadOrCurlAboveThePalm) {
    // A raised right hand at 1.2 m, palm towards the sensor, fingers up.
    constexpr float r0Focal = 576.0f;  // 640 x 480 at 58.1 degrees, in pixels (rounded)
    const auto frameOf = [](const char* shape) {
        const sim::Scene scene = parse(std::string("sensor resolution=640x480 noise=off\n") +
                                       "person a x=0 z=1550 hands=" + shape +
                                       "\na right raise\na right hold 1\nend 2\n");
        sim::Renderer r(scene);
        return render(r, 40);
    };
    const uint8_t hand = sim::personLabel(0, sim::kHandRight);
    struct Case {
        const char* shape;
        int fingersUp;  // runs of hand pixels across a row through the fingers
        bool extended;  // fingers and thumb stretched out
    };
    for (const Case& c : {Case{"spread", 4, true}, Case{"open", 1, true}, Case{"fist", 0, false},
                          Case{"point", 1, false}}) {
        const Frame f = frameOf(c.shape);
        const sim::HandTruth& h = f.truth.hands[sim::kRight];
        ASSERT_TRUE(h.inView);
        // The palm centre lies on the hand; the hand's middle is further towards the fingertips.
        EXPECT_EQ(f.label(static_cast<int>(h.u), static_cast<int>(h.v)), hand) << c.shape;
        EXPECT_GT(h.centre.y - h.palm.y, c.extended ? 25.0f : -1.0f) << c.shape;
        // A row 80 mm above the palm centre crosses the fingers: spread ones stand apart, open
        // ones touch (at most a pixel's gap), a fist has none up, a pointing hand one.
        const int row = static_cast<int>(h.v - r0Focal * 80 / h.palm.z);
        const int count = runs(f, row, hand);
        if (std::string(c.shape) == "open") {
            EXPECT_LE(count, 2) << c.shape;
        } else {
            EXPECT_EQ(count, c.fingersUp) << c.shape;
        }
        if (!c.extended) continue;
        // The thumb sticks out towards the body's middle (smaller x for the right hand): the
        // hand reaches 20 mm or more further on that side.
        int left = f.width, right = 0;
        for (size_t k = 0; k < f.labels.size(); ++k) {
            if (f.labels[k] != hand) continue;
            left = std::min(left, static_cast<int>(k) % f.width);
            right = std::max(right, static_cast<int>(k) % f.width);
        }
        const float margin = r0Focal * 20 / h.palm.z;
        EXPECT_GT(h.u - static_cast<float>(left), static_cast<float>(right) - h.u + margin)
            << c.shape;
    }
}

// Pixels reachable from (i, j) over the given labels (4-neighbours).
std::vector<uint8_t> reach(const Frame& f, int i, int j, const std::vector<uint8_t>& labels) {
    std::vector<uint8_t> seen(f.labels.size(), 0);
    std::vector<int> stack{j * f.width + i};
    const auto ok = [&](int k) {
        return std::find(labels.begin(), labels.end(), f.labels[static_cast<size_t>(k)]) !=
               labels.end();
    };
    while (!stack.empty()) {
        const int k = stack.back();
        stack.pop_back();
        if (seen[static_cast<size_t>(k)] || !ok(k)) continue;
        seen[static_cast<size_t>(k)] = 1;
        const int x = k % f.width, y = k / f.width;
        if (x > 0) stack.push_back(k - 1);
        if (x + 1 < f.width) stack.push_back(k + 1);
        if (y > 0) stack.push_back(k - f.width);
        if (y + 1 < f.height) stack.push_back(k + f.width);
    }
    return seen;
}

TEST(ShapedHands, SeatedRaiseConnectsHandWristSleeveAndLowerEdge) {
    const sim::Scene scene = parse(
        "sensor noise=off\nroom wall=2600 floor=-1050\n"
        "person u x=0 z=950 seated=on hands=spread sleeves=long\nu right raise\nend 1.5\n");
    sim::Renderer r(scene);
    const Frame f = render(r, 30);
    const sim::HandTruth& h = f.truth.hands[sim::kRight];
    EXPECT_NEAR(h.palm.z, 600, 5);
    const uint8_t hand = sim::personLabel(0, sim::kHandRight);
    const uint8_t forearm = sim::personLabel(0, sim::kForearmRight);
    const uint8_t sleeve = sim::personLabel(0, sim::kSleeveRight);
    const std::vector<uint8_t> arm =
        reach(f, static_cast<int>(h.u), static_cast<int>(h.v), {hand, forearm, sleeve});
    int bottom = 0, sleeves = 0, forearms = 0;
    for (size_t k = 0; k < arm.size(); ++k) {
        if (!arm[k]) continue;
        bottom += static_cast<int>(k) / f.width == f.height - 1;
        sleeves += f.labels[k] == sleeve;
        forearms += f.labels[k] == forearm;
    }
    EXPECT_GT(bottom, 5) << "the sleeve runs out of the lower edge";
    EXPECT_GT(sleeves, 500);
    EXPECT_GT(forearms, 100) << "a bare wrist between hand and sleeve";

    // Seated: the head is lower than a standing person's by the seat drop.
    const sim::Scene standing =
        parse("sensor noise=off\nroom wall=2600 floor=-930\nperson u x=0 z=950\nend 1\n");
    const sim::Pose sit = scene.people[0].poseAt(0, -930),
                    stand = standing.people[0].poseAt(0, -930);
    EXPECT_NEAR(stand.headCentre.y - sit.headCentre.y, 0.27f * 1750, 1);
}

TEST(RealNoise, HolesAtEdgesAndOnDarkSurfacesNoiseCorrelated) {
    const std::string room =
        "sensor resolution=640x480 noise=real seed=4\nroom wall=2500 floor=none\n";
    const sim::Scene scene = parse(room +
                                   "box center=-300,0,1200 size=300,400,100\n"
                                   "box center=300,0,1200 size=300,400,100 surface=dark\n"
                                   "bar from=-500,-300,1200 to=500,-300,1200 radius=3\nend 1\n");
    sim::Renderer r(scene);
    const Frame f = render(r, 0);
    // Rows through the matte box: its far (right) side has holes 1 to 3 px wide, ragged.
    int rows = 0, edgeHoles = 0, wideHoles = 0, inside = 0, insideZeros = 0;
    for (int j = 200; j < 280; ++j) {
        int b = -1;
        for (int i = 0; i < f.width / 2; ++i)
            if (f.label(i, j) == sim::kLabelBox) b = i;
        ASSERT_GT(b, 0);
        ++rows;
        edgeHoles += f.at(b + 1, j) == 0;
        wideHoles += f.at(b + 3, j) == 0;
        EXPECT_NE(f.at(b + 6, j), 0);
        for (int i = b - 40; i < b - 5; ++i) insideZeros += f.at(i, j) == 0, ++inside;
    }
    EXPECT_GT(edgeHoles, rows / 3);
    EXPECT_LT(edgeHoles, rows);
    EXPECT_GT(wideHoles, 0);
    EXPECT_LT(wideHoles, edgeHoles);
    EXPECT_LT(insideZeros, inside / 50);
    // The dark box reads 0 in patches.
    int dark = 0, darkZeros = 0;
    for (int j = 200; j < 280; ++j)
        for (int i = 0; i < f.width; ++i)
            if (f.label(i, j) == sim::kLabelDark) darkZeros += f.at(i, j) == 0, ++dark;
    EXPECT_GT(darkZeros, dark / 4);
    // A cable 6 mm thick (3 px) breaks up: much of it, but not all, reads 0.
    int cable = 0, cableZeros = 0;
    for (int j = 360; j < 420; ++j)
        for (int i = 0; i < f.width; ++i)
            if (f.label(i, j) == sim::kLabelBox) cableZeros += f.at(i, j) == 0, ++cable;
    EXPECT_GT(cable, 1000);
    EXPECT_GT(cableZeros, cable / 3);
    EXPECT_LT(cableZeros, cable * 9 / 10);

    // Neighbouring readings of the wall scatter together (lag-1 correlation about 0.45).
    std::vector<double> values;
    const sim::Scene wall = parse(room + "end 1\n");
    sim::Renderer w(wall);
    const Frame g = render(w, 3);
    double sum = 0, n = 0;
    for (int j = 100; j < 380; ++j)
        for (int i = 100; i < 540; ++i)
            if (g.at(i, j)) sum += g.at(i, j), ++n;
    const double mean = sum / n;
    const auto corr = [&](int lag) {
        double c = 0, v = 0;
        for (int j = 100; j < 380; ++j)
            for (int i = 100; i < 540; ++i) {
                const double a = g.at(i, j) - mean, b = g.at(i + lag, j) - mean;
                if (g.at(i, j) && g.at(i + lag, j)) c += a * b, v += a * a;
            }
        return c / v;
    };
    EXPECT_GT(corr(1), 0.25);
    EXPECT_LT(corr(6), 0.15);
}

TEST(Timing, FifteenFpsFramesAreTwiceAsFarApart) {
    const std::string body = "person a x=0 z=1800\na right raise\na right wave half=0.2\nend 4\n";
    const sim::Scene slow = parse("sensor fps=15\n" + body);
    const sim::Scene fast = parse("sensor fps=30\n" + body);
    EXPECT_EQ(slow.frameCount(), 60);
    EXPECT_EQ(fast.frameCount(), 120);
    float largest = 0;
    for (int k = 1; k < slow.frameCount(); ++k) {
        const sim::FrameTruth a = sim::groundTruth(slow, k), b = sim::groundTruth(fast, 2 * k);
        EXPECT_DOUBLE_EQ(a.time, k / 15.0);
        EXPECT_NEAR(a.hands[1].palm.x, b.hands[1].palm.x, 1e-3);
        const sim::FrameTruth prev = sim::groundTruth(slow, k - 1);
        largest = std::max(largest, std::fabs(a.hands[1].palm.x - prev.hands[1].palm.x));
    }
    EXPECT_GT(largest, 60.0f);  // a default wave at 15 fps: steps of a wave's 0.2 s / 3
}

// Scenes without the new words render exactly as before these features existed.
TEST(Compatibility, DemoSceneFramesAreUnchanged) {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    std::string error;
    const auto demo = sim::loadScene(std::string(dir ? dir : ".") + "/scenes/demo.scene", error);
    ASSERT_TRUE(demo) << error;
    uint64_t sums[2] = {};
    for (int width : {320, 640}) {
        sim::Renderer r(*demo, width, width * 3 / 4);
        uint64_t h = 1469598103934665603ULL;  // FNV-1a over depth and visible pixel counts
        for (int k : {0, 45, 200, 333}) {
            const Frame f = render(r, k);
            for (uint16_t v : f.depth) h = (h ^ v) * 1099511628211ULL;
            for (const sim::HandTruth& t : f.truth.hands)
                h = (h ^ static_cast<uint64_t>(t.visiblePixels)) * 1099511628211ULL;
        }
        sums[width == 640] = h;
    }
    EXPECT_EQ(sums[0], 9408342118682080995ULL);
    EXPECT_EQ(sums[1], 9282847130320916272ULL);
}

}  // namespace
