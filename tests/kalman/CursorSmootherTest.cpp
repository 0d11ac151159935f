// CursorSmoother: when tracks start and continue, and what the cursor worker reads back.

#include <gtest/gtest.h>

#include "kalman/CursorSmoother.h"

namespace {

void expectOutput(const CursorSmoother& s, int x, int y) {
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s.output().x, x);
    EXPECT_EQ(s.output().y, y);
}

TEST(CursorSmoother, StartsWithNoOutput) {
    CursorSmoother s;
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.output().x, 0);
    EXPECT_EQ(s.output().y, 0);
}

TEST(CursorSmoother, FirstPositionIsOutputUnchanged) {
    CursorSmoother s;
    s.smoothPosition({100, 200, 7});
    expectOutput(s, 100, 200);
    EXPECT_EQ(s.restarted(), 1);
    EXPECT_EQ(s.input().aux, 7);  // the third value is carried along
    const auto& x = s.filter().getState();
    EXPECT_EQ(x(1), 100.0);
    EXPECT_EQ(x(2), 200.0);
    EXPECT_EQ(x(3), 0.0);
    EXPECT_EQ(x(4), 0.0);
}

TEST(CursorSmoother, RepeatedPositionIsOutputUnchanged) {
    CursorSmoother s;
    s.smoothPosition({100, 200, 0});
    s.smoothPosition({100, 200, 0});
    expectOutput(s, 100, 200);
    EXPECT_EQ(s.restarted(), 0);
}

TEST(CursorSmoother, MovingTargetGivesReferenceOutputs) {
    CursorSmoother s;
    s.smoothPosition({100, 200, 0});
    s.smoothPosition({110, 200, 0});
    expectOutput(s, 109, 200);
    EXPECT_NEAR(s.filter().getState()(1), 109.0937, 5e-5);
    EXPECT_NEAR(s.filter().getState()(3), 4.5316, 5e-5);
    s.smoothPosition({120, 205, 0});
    expectOutput(s, 118, 204);
    s.smoothPosition({135, 207, 0});
    expectOutput(s, 132, 206);
    s.smoothPosition({150, 215, 0});
    expectOutput(s, 148, 213);
}

TEST(CursorSmoother, NoHandKeepsOutputAndFilterThenRestarts) {
    CursorSmoother s;
    s.smoothPosition({100, 200, 0});
    s.smoothPosition({110, 200, 0});
    const double vx = s.filter().getState()(3);

    s.smoothPosition({0, 0, 0});
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.restarted(), 1);  // the track ended
    EXPECT_EQ(s.output().x, 109);
    EXPECT_EQ(s.output().y, 200);
    EXPECT_EQ(s.filter().getState()(3), vx);

    s.smoothPosition({0, 0, 0});  // still nothing: no restart, no output
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.restarted(), 0);
    EXPECT_EQ(s.output().x, 109);

    // Far away from where the last track ended: a new track, output as given, velocity reset.
    s.smoothPosition({700, 50, 0});
    expectOutput(s, 700, 50);
    EXPECT_EQ(s.restarted(), 1);
    EXPECT_EQ(s.filter().getState()(3), 0.0);
    s.smoothPosition({700, 50, 0});
    expectOutput(s, 700, 50);
}

TEST(CursorSmoother, ZeroOnOneAxisIsStillAPosition) {
    CursorSmoother s;
    s.smoothPosition({0, 300, 0});
    expectOutput(s, 0, 300);
    s.smoothPosition({40, 0, 0});
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s.restarted(), 0);  // continues the track
    EXPECT_GT(s.output().x, 0);
    EXPECT_LT(s.output().x, 40);
}

TEST(CursorSmoother, NegativeCoordinatesTruncateTowardZero) {
    CursorSmoother s;
    s.smoothPosition({-1, -1, 0});
    s.smoothPosition({-6, -6, 0});
    const double fx = s.filter().getState()(1);
    ASSERT_GT(fx, -6.0);
    ASSERT_LT(fx, -5.0);  // about −5.55: truncation gives −5, flooring would give −6
    expectOutput(s, -5, -5);
}

TEST(CursorSmoother, SmoothGivesTheOutputOrNothing) {
    CursorSmoother s;
    EXPECT_FALSE(s.smooth(0, 0).has_value());
    auto first = s.smooth(100, 200);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->x, 100);
    EXPECT_EQ(first->y, 200);
    auto second = s.smooth(110, 200);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->x, 109);
    EXPECT_FALSE(s.smooth(0, 0).has_value());
    EXPECT_EQ(s.output().x, 109);
}

}  // namespace
