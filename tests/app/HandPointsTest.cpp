#include "app/HandPoints.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// OpenNI's projection for 320 x 240 with a 58 x 45 degree field of view.
class Projection final : public DepthConverter {
  public:
    void worldToDepth(float x, float y, float z, float& u, float& v) override {
        u = x / (z * xz) * 320.0f + 160.0f;
        v = 120.0f - y / (z * yz) * 240.0f;
    }
    void depthToWorld(int u, int v, int z, float& x, float& y) override {
        x = (static_cast<float>(u) / 320.0f - 0.5f) * static_cast<float>(z) * xz;
        y = (0.5f - static_cast<float>(v) / 240.0f) * static_cast<float>(z) * yz;
    }
    const float xz = 2.0f * std::tan(58.0f / 2.0f * 3.14159265f / 180.0f);
    const float yz = 2.0f * std::tan(45.0f / 2.0f * 3.14159265f / 180.0f);
};

struct Frame {
    explicit Frame(uint16_t depth) : pixels(320 * 240, depth) {
        view.data = pixels.data();
        view.width = 320;
        view.height = 240;
        view.strideBytes = 640;
        view.dataBytes = 320 * 240 * 2;
    }
    std::vector<uint16_t> pixels;
    DepthFrameView view;
};

}  // namespace

TEST(HandPoints, OneHandFillsEntryZeroAndItsWindowPoint) {
    Projection p;
    HandPointSet set;
    Point3f screen[20];
    const Point3f hands[1] = {{0.0f, 0.0f, 1200.0f}};
    convertHands(hands, 1, 2.25f, 2.0f, p, set, screen);
    EXPECT_EQ(set.count, 1);
    EXPECT_FLOAT_EQ(set.depth[0].x, 160.0f);
    EXPECT_FLOAT_EQ(set.depth[0].y, 120.0f);
    EXPECT_FLOAT_EQ(set.depth[0].z, 1200.0f);
    EXPECT_FLOAT_EQ(screen[0].x, 360.0f);
    EXPECT_FLOAT_EQ(screen[0].y, 240.0f);
    EXPECT_EQ(set.world[1].z, 0.0f);
    EXPECT_EQ(set.world[2].z, 0.0f);
}

TEST(HandPoints, MidpointSeeingTheWallFallsBackBehindTheHands) {
    Projection p;
    Frame wall(3000);
    HandPointSet set;
    Point3f screen[20];
    const Point3f hands[2] = {{-200.0f, 100.0f, 1200.0f}, {200.0f, 140.0f, 1200.0f}};
    convertHands(hands, 2, 2.25f, 2.0f, p, set, screen);
    EXPECT_EQ(computeHandMidpoint(&wall.view, set, p), 1);
    EXPECT_FLOAT_EQ(set.world[2].x, 0.0f);
    EXPECT_FLOAT_EQ(set.world[2].y, 120.0f);
    EXPECT_FLOAT_EQ(set.world[2].z, 1400.0f);
    EXPECT_FLOAT_EQ(set.depth[2].z, 1400.0f);
}

TEST(HandPoints, MidpointWithoutAReadingIsUsedAsItIs) {
    Projection p;
    Frame empty(0);
    HandPointSet set;
    Point3f screen[20];
    const Point3f hands[2] = {{-200.0f, 0.0f, 1200.0f}, {200.0f, 0.0f, 1200.0f}};
    convertHands(hands, 2, 2.25f, 2.0f, p, set, screen);
    EXPECT_EQ(computeHandMidpoint(&empty.view, set, p), 1);
    EXPECT_FLOAT_EQ(set.world[2].z, 0.0f);
    // Truncated as the frame loop does: the first x, then the sum, then halved.
    EXPECT_FLOAT_EQ(set.depth[2].x, 159.0f);
    EXPECT_FLOAT_EQ(set.depth[2].y, 120.0f);
}

TEST(HandPoints, MidpointBetweenTheHandsTakesThatPixel) {
    Projection p;
    Frame body(1300);
    HandPointSet set;
    Point3f screen[20];
    const Point3f hands[2] = {{-200.0f, 0.0f, 1200.0f}, {200.0f, 0.0f, 1200.0f}};
    convertHands(hands, 2, 2.25f, 2.0f, p, set, screen);
    computeHandMidpoint(&body.view, set, p);
    EXPECT_FLOAT_EQ(set.world[2].z, 1300.0f);
    EXPECT_NEAR(set.world[2].x, 0.0f, 5.0f);
}

TEST(HandPoints, MidpointOutsideTheImageIsZero) {
    Projection p;
    Frame body(1300);
    Point3f screen[20];
    // Both hands below the lower edge.
    HandPointSet below;
    const Point3f low[2] = {{-100.0f, -900.0f, 1000.0f}, {100.0f, -900.0f, 1000.0f}};
    convertHands(low, 2, 2.25f, 2.0f, p, below, screen);
    EXPECT_EQ(computeHandMidpoint(&body.view, below, p), 0);
    EXPECT_EQ(below.world[2].z, 0.0f);
    EXPECT_EQ(below.depth[2].x, 0.0f);
    // Both hands right of the image: the column is past the row's end, which
    // must not be read as the next row.
    HandPointSet right;
    const Point3f wide[2] = {{900.0f, 0.0f, 1000.0f}, {1000.0f, 0.0f, 1000.0f}};
    convertHands(wide, 2, 2.25f, 2.0f, p, right, screen);
    EXPECT_EQ(computeHandMidpoint(&body.view, right, p), 0);
    EXPECT_EQ(right.world[2].z, 0.0f);
    // No depth frame: nothing written.
    HandPointSet none;
    convertHands(wide, 2, 2.25f, 2.0f, p, none, screen);
    EXPECT_EQ(computeHandMidpoint(nullptr, none, p), 1);
}

TEST(HandPoints, MoreThanThreeHandsKeepTheSetAndFillTwentyWindowPoints) {
    Projection p;
    HandPointSet set;
    Point3f screen[20];
    Point3f hands[20];
    for (int i = 0; i < 20; ++i) hands[i] = {static_cast<float>(i * 10), 0.0f, 1000.0f};
    convertHands(hands, 20, 2.25f, 2.0f, p, set, screen);
    EXPECT_EQ(set.count, 20);
    EXPECT_FLOAT_EQ(set.world[2].x, 20.0f);
    EXPECT_GT(screen[19].x, screen[18].x);
}
