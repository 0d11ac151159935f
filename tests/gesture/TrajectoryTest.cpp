#include "gesture/Trajectory.h"

#include <gtest/gtest.h>

#include "gesture/GestureFeatures.h"

namespace gesture {
namespace {

// Appends points along a box outline: n points from (x0, y0, z0) to (x1, y1, z1).
void appendLine(Trajectory& t, Point3i from, Point3i to, int n) {
    for (int i = 0; i < n; ++i) {
        t.appendPoint({from.x + (to.x - from.x) * i / (n - 1),
                       from.y + (to.y - from.y) * i / (n - 1),
                       from.z + (to.z - from.z) * i / (n - 1)});
    }
}

TEST(LargestMagnitude, ComparesAbsoluteValuesAndKeepsTheFirstOfEqualOnes) {
    const float values[] = {3.0f, -7.0f, 7.0f, 1.0f};
    const Magnitude m = largestMagnitude(values, 4);
    EXPECT_FLOAT_EQ(m.value, 7.0f);
    EXPECT_EQ(m.index, 1);
    const float zeros[] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(largestMagnitude(zeros, 3).index, 0);
}

TEST(TrajectoryClassify, NeedsFivePoints) {
    Trajectory t;
    appendLine(t, {5000, 5000, 1000}, {5200, 5000, 1000}, 4);
    EXPECT_EQ(t.classifyStroke(), StrokeClass::NONE);
    t.appendPoint({5250, 5000, 1000});
    EXPECT_EQ(t.classifyStroke(), StrokeClass::HORIZONTAL);
}

TEST(TrajectoryClassify, BoxShapes) {
    struct Case {
        int w, h, d, expected;
    };
    // 200 x 60 at depth 40 is flat and wide; 60 x 60 deep 200 is first circular,
    // then replaced by the depth rule.
    const Case cases[] = {{200, 60, 40, StrokeClass::HORIZONTAL},
                          {60, 200, 40, StrokeClass::VERTICAL},
                          {60, 60, 200, StrokeClass::DEPTH},
                          {200, 60, 250, StrokeClass::NONE},
                          {30, 10, 0, StrokeClass::NONE},
                          {31, 10, 0, StrokeClass::HORIZONTAL},
                          {80, 80, 19, StrokeClass::CIRCULAR_MAX_AFTER_MIN}};
    for (const Case& c : cases) {
        Trajectory t;
        // Corner to corner, so the maximum x comes after the minimum.
        appendLine(t, {5000, 5000, 1000}, {5000 + c.w, 5000 + c.h, 1000 + c.d}, 6);
        EXPECT_EQ(t.classifyStroke(), c.expected) << c.w << "x" << c.h << " d" << c.d;
        EXPECT_EQ(t.width(), c.w);
        EXPECT_EQ(t.height(), c.h);
        EXPECT_EQ(t.depthExtent(), c.d);
    }
}

TEST(TrajectoryClassify, CircleDirectionFollowsTheOrderOfTheXExtremes) {
    Trajectory t;
    appendLine(t, {5080, 5000, 1000}, {5000, 5080, 1000}, 5);  // min x last
    EXPECT_EQ(t.classifyStroke(), StrokeClass::CIRCULAR);
    EXPECT_EQ(t.xDirection(), 2);
    t.clear();
    appendLine(t, {5000, 5000, 1000}, {5080, 5080, 1000}, 5);
    EXPECT_EQ(t.classifyStroke(), StrokeClass::CIRCULAR_MAX_AFTER_MIN);
    EXPECT_EQ(t.xDirection(), 1);
}

TEST(TrajectoryClassify, PointsWithoutDepthDoNotStretchTheDepthExtent) {
    Trajectory t;
    appendLine(t, {5000, 5000, 1000}, {5200, 5000, 1030}, 5);
    t.appendPoint({5210, 5000, 0});
    t.classifyStroke();
    EXPECT_EQ(t.depthExtent(), 30);
}

TEST(TrajectoryClassify, WrapsAfterAThousandPoints) {
    Trajectory t;
    for (int i = 0; i < 999; ++i) t.appendPoint({5000 + i, 5000, 1000});
    EXPECT_EQ(t.writeIndex(), 999);
    EXPECT_EQ(t.classifyStroke(), StrokeClass::HORIZONTAL);
    t.appendPoint({6000, 5000, 1000});
    EXPECT_EQ(t.writeIndex(), 0);
    EXPECT_EQ(t.classifyStroke(), StrokeClass::NONE);
    for (int i = 0; i < 5; ++i) t.appendPoint({6000 + 10 * i, 5000, 1000});
    EXPECT_EQ(t.classifyStroke(), StrokeClass::HORIZONTAL);
    EXPECT_EQ(t.width(), 40);  // only the points since the wrap
}

TEST(TrajectoryMotion, NeedsTwoStoredPoints) {
    Trajectory t;
    EXPECT_EQ(t.analyseMotion().direction, 0);
    t.appendPoint({5000, 5000, 1000});
    const MotionSample s = t.analyseMotion();
    EXPECT_EQ(s.speed, 0.0f);
    EXPECT_EQ(s.direction, 0);
    EXPECT_EQ(t.histogramBin(2), 0.0f);
}

TEST(TrajectoryMotion, SpeedIsPlanarInCentimetresPerSecond) {
    Trajectory t;
    t.appendPoint({5000, 5000, 1000});
    t.appendPoint({5100, 5000, 500});  // depth is left out
    MotionSample s = t.analyseMotion();
    EXPECT_FLOAT_EQ(s.speed, 300.0f);
    EXPECT_EQ(s.direction, Direction::TOWARDS);  // z dominates the velocity
    // Acceleration from rest: (-1500 cm/s - 0) * 30.
    EXPECT_FLOAT_EQ(s.peakAcceleration, 45000.0f);

    t.appendPoint({5199, 5014, 500});
    s = t.analyseMotion();
    EXPECT_NEAR(s.speed, 299.955f, 0.001f);
    EXPECT_LT(s.speed, 300.0f);
}

TEST(TrajectoryMotion, DirectionIsTheMostFrequentDominantAxis) {
    Trajectory t;
    t.appendPoint({5000, 5000, 1000});
    t.appendPoint({5030, 5030, 1000});  // equal components count as x
    EXPECT_EQ(t.analyseMotion().direction, Direction::RIGHT);
    t.appendPoint({5030, 5080, 1000});
    EXPECT_EQ(t.analyseMotion().direction, Direction::RIGHT);  // tie in the histogram
    t.appendPoint({5030, 5130, 1000});
    EXPECT_EQ(t.analyseMotion().direction, Direction::DOWN);
    t.appendPoint({5030, 5130, 1000});  // standing: zero counts as negative x
    t.analyseMotion();
    EXPECT_EQ(t.histogramBin(Direction::LEFT), 1.0f);
}

}  // namespace
}  // namespace gesture
