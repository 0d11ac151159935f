// The renderer: projection, the noise model's measured figures, shadows on
// the projector's side, determinism, and the ground truth of the hands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "sim/Noise.h"
#include "sim/Renderer.h"
#include "tests/sim/RenderedFrame.h"

namespace {

using simtest::Frame;
using simtest::parse;
using simtest::render;

TEST(Renderer, PointsLandWhereTheProjectionPutsThem) {
    for (const char* res : {"320x240", "640x480"}) {
        for (const sim::Vec3 p : {sim::Vec3{0, 0, 1000}, sim::Vec3{-400, 250, 1500},
                                  sim::Vec3{700, -300, 2500}, sim::Vec3{33, 17, 1200}}) {
            const std::string text =
                std::string("sensor noise=off resolution=") + res +
                "\nroom wall=none floor=none\nbox center=" + std::to_string(p.x) + "," +
                std::to_string(p.y) + "," + std::to_string(p.z + 1) + " size=12,12,2\nend 1\n";
            const sim::Scene scene = parse(text);
            sim::Renderer r(scene);
            const Frame f = render(r, 0);
            double su = 0, sv = 0;
            int n = 0;
            for (int j = 0; j < f.height; ++j)
                for (int i = 0; i < f.width; ++i)
                    if (f.label(i, j) == sim::kLabelBox) {
                        su += i, sv += j, ++n;
                        EXPECT_NEAR(f.at(i, j), p.z, 1);
                    }
            ASSERT_GT(n, 0) << res;
            float u, v;
            r.projection().worldToDepth(p, u, v);
            EXPECT_NEAR(su / n, u, 0.5) << res << " " << p.x << "," << p.y << "," << p.z;
            EXPECT_NEAR(sv / n, v, 0.5) << res << " " << p.x << "," << p.y << "," << p.z;
        }
    }
}

TEST(Noise, SigmaAndStepsMatchTheModel) {
    for (const int z : {1000, 2000, 3000}) {
        const sim::Scene scene =
            parse("sensor seed=11\nroom wall=" + std::to_string(z) + " floor=none\nend 1\n");
        sim::Renderer r(scene);
        std::vector<double> values;
        for (int k = 0; k < 4; ++k) {
            const Frame f = render(r, k);
            for (int j = 70; j < 170; ++j)
                for (int i = 110; i < 210; ++i)
                    if (f.at(i, j) != 0) values.push_back(f.at(i, j));
        }
        ASSERT_GT(values.size(), 30000u);
        double mean = 0, var = 0;
        for (double v : values) mean += v;
        mean /= static_cast<double>(values.size());
        for (double v : values) var += (v - mean) * (v - mean);
        const double sigma = std::sqrt(var / static_cast<double>(values.size()));
        const double model = sim::noise::axialSigma(z);
        EXPECT_NEAR(sigma, model, 0.2 * model) << "at " << z << " mm";
        EXPECT_NEAR(mean, z, 0.5 * sim::noise::disparityStep(z) + 1) << "at " << z << " mm";

        // Readings come in disparity steps.
        const std::set<double> distinct(values.begin(), values.end());
        EXPECT_LE(distinct.size(), 12u);
        const double step = sim::noise::disparityStep(z);
        for (auto it = std::next(distinct.begin()); it != distinct.end(); ++it)
            EXPECT_NEAR(*it - *std::prev(it), step, 0.15 * step + 1) << "at " << z << " mm";
    }
}

TEST(Noise, ShadowsFallOnTheLeftAndEdgesDropOut) {
    const sim::Scene scene = parse(
        "sensor seed=2\nroom wall=3000 floor=none\nbox center=0,0,1550 size=300,300,200\nend 1\n");
    sim::Renderer r(scene);
    const Frame f = render(r, 0);
    const float fx = r.projection().focalX();
    const int width = static_cast<int>(fx * 75 * (1 / 1450.0 - 1 / 3000.0));  // about 7 px
    ASSERT_GE(width, 6);
    int leftShadow = 0, rightLit = 0, rows = 0, edgeZeros = 0;
    for (int j = 100; j < 140; ++j) {
        int a = -1, b = -1;  // the box's columns in this row, from the labels
        for (int i = 0; i < f.width; ++i)
            if (f.label(i, j) == sim::kLabelBox) {
                if (a < 0) a = i;
                b = i;
            }
        ASSERT_GE(a, 0);
        ++rows;
        bool shadow = true, lit = true;
        for (int i = a - width + 2; i <= a - 2; ++i) shadow &= f.at(i, j) == 0;
        for (int i = b + 2; i <= b + width; ++i) lit &= f.at(i, j) > 2800;
        leftShadow += shadow;
        rightLit += lit;
        edgeZeros += f.at(b, j) == 0;
        for (int i = a + 2; i <= b - 2; ++i) EXPECT_NEAR(f.at(i, j), 1450, 20);  // inside: no holes
    }
    EXPECT_EQ(leftShadow, rows);
    EXPECT_EQ(rightLit, rows);
    EXPECT_GT(edgeZeros, rows / 10);  // some drop-outs at the edge, not all
    EXPECT_LT(edgeZeros, rows * 8 / 10);
}

TEST(Noise, WorkingRange) {
    const sim::Scene far = parse("room wall=6000 floor=none\nend 1\n");
    sim::Renderer r(far);
    const Frame f = render(r, 0);
    EXPECT_TRUE(std::all_of(f.depth.begin(), f.depth.end(), [](uint16_t d) { return d == 0; }));
    const sim::Scene exact = parse("sensor noise=off\nroom wall=6000 floor=none\nend 1\n");
    sim::Renderer e(exact);
    EXPECT_EQ(render(e, 0).at(160, 120), 6000);
}

TEST(Renderer, FramesDependOnlyOnSceneSeedAndIndex) {
    const std::string text = "person a x=100 z=1800\na right raise\na right wave\nend 3\n";
    const sim::Scene scene = parse("sensor seed=9\n" + text);
    sim::Renderer one(scene), two(scene);
    const Frame a = render(one, 40);
    render(two, 3);
    render(two, 70);
    EXPECT_EQ(render(two, 40).depth, a.depth);
    EXPECT_NE(render(one, 41).depth, a.depth);

    const sim::Scene other = parse("sensor seed=10\n" + text);
    sim::Renderer three(other);
    const Frame b = render(three, 40);
    EXPECT_NE(b.depth, a.depth);
    EXPECT_EQ(b.labels, a.labels);  // same geometry, other noise
}

TEST(GroundTruth, HandsAreWhereTheirPixelsAre) {
    const sim::Scene scene = parse(
        "sensor resolution=640x480 noise=off\nperson a x=0 z=1500\n"
        "a both raise\nend 2\n");
    sim::Renderer r(scene);
    const Frame f = render(r, 45);
    ASSERT_EQ(f.truth.hands.size(), 2u);
    for (const sim::HandTruth& h : f.truth.hands) {
        EXPECT_TRUE(h.inView);
        const uint8_t label =
            sim::personLabel(0, h.side == sim::kLeft ? sim::kHandLeft : sim::kHandRight);
        double su = 0, sv = 0;
        int n = 0, minI = f.width, maxI = -1;
        for (int j = 0; j < f.height; ++j)
            for (int i = 0; i < f.width; ++i)
                if (f.label(i, j) == label) {
                    su += i, sv += j, ++n;
                    if (std::abs(j - static_cast<int>(h.v)) < 2)
                        minI = std::min(minI, i), maxI = std::max(maxI, i);
                }
        EXPECT_EQ(n, h.visiblePixels);
        EXPECT_NEAR(su / n, h.u, 1.5);
        EXPECT_NEAR(sv / n, h.v, 3.0);  // the forearm hides a little of the palm's bottom
        // A palm about 94 mm wide: f * 94 / z pixels across.
        const float expected = r.projection().focalX() * 94 / h.centre.z;
        EXPECT_NEAR(maxI - minI + 1, expected, 4);
    }
    EXPECT_LT(f.truth.hands[0].centre.x, f.truth.hands[1].centre.x);  // left has the smaller x
}

TEST(GroundTruth, HiddenAndOutOfViewHands) {
    const sim::Scene scene = parse(
        "person a x=0 z=2000\nbox center=0,-100,1200 size=1500,1500,100\n"
        "person b x=0 z=2500\nb right to 5000,0,2000 time=0.1\nend 1\n");
    sim::Renderer r(scene);
    const Frame f = render(r, 10);
    ASSERT_EQ(f.truth.hands.size(), 4u);
    EXPECT_EQ(f.truth.hands[0].visiblePixels, 0);  // behind the box
    EXPECT_TRUE(f.truth.hands[0].inView);
    EXPECT_FALSE(f.truth.hands[3].inView);  // far to the right
    EXPECT_EQ(f.truth.hands[3].visiblePixels, 0);
}

}  // namespace
