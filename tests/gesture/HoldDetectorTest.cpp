#include "gesture/HoldDetector.h"

#include <gtest/gtest.h>

namespace gesture {
namespace {

constexpr int32_t kFps = 30;

// Feeds the same point n times (the first as a new hand) and returns the
// detector's answer per call.
std::vector<int32_t> feedStill(HoldDetector& d, Point3i p, int n) {
    std::vector<int32_t> answers;
    for (int i = 0; i < n; ++i) answers.push_back(d.detect(p, i == 0 ? 1 : 0, kFps));
    return answers;
}

TEST(HoldDetector, ANewHandHoldsOnItsSixthFrameAfterTheFirst) {
    HoldDetector d;
    const auto answers = feedStill(d, {5000, 5000, 1000}, 8);
    EXPECT_EQ(d.windowLength(), 6);
    EXPECT_EQ(answers, (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 1, 1}));
}

TEST(HoldDetector, WindowLengthFollowsTheFrameRateWithinItsCapacity) {
    HoldDetector slow;
    slow.detect({}, 1, 2);
    EXPECT_EQ(slow.windowLength(), 1);
    HoldDetector fast;
    fast.detect({}, 1, 100000);
    EXPECT_EQ(fast.windowLength(), HoldDetector::kCapacity);
    HoldDetector sixty;
    sixty.detect({}, 1, 60);
    sixty.detect({}, 0, 30);  // fixed on the first call
    EXPECT_EQ(sixty.windowLength(), 12);
}

TEST(HoldDetector, AStepOf25mmRestartsAnd24mmDoesNot) {
    for (int axis = 0; axis < 3; ++axis) {
        for (int step : {24, 25}) {
            HoldDetector d;
            Point3i p{5000, 5000, 1000};
            feedStill(d, p, 7);
            (axis == 0 ? p.x : axis == 1 ? p.y : p.z) += step;
            EXPECT_EQ(d.detect(p, 0, kFps), step == 24 ? 1 : 0) << "axis " << axis;
        }
    }
}

TEST(HoldDetector, ChangingTheHandCountRestarts) {
    HoldDetector d;
    feedStill(d, {5000, 5000, 1000}, 7);
    EXPECT_EQ(d.detect({5000, 5000, 1000}, 1, kFps), 0);
    EXPECT_EQ(d.state(), -1);
}

// Alternating +-10 mm around a centre gives a variance of exactly 100.
std::vector<int32_t> feedAlternating(int axis) {
    HoldDetector d;
    std::vector<int32_t> answers;
    for (int i = 0; i < 9; ++i) {
        Point3i p{5000, 5000, 1000};
        (axis == 0 ? p.x : axis == 1 ? p.y : p.z) += i % 2 == 0 ? -10 : 10;
        answers.push_back(d.detect(p, i == 0 ? 1 : 0, kFps));
    }
    return answers;
}

TEST(HoldDetector, ASpreadOfExactly100HoldsOnXAndYButNotOnZ) {
    const std::vector<int32_t> holds{0, 0, 0, 0, 0, 0, 1, 1, 1};
    EXPECT_EQ(feedAlternating(0), holds);
    EXPECT_EQ(feedAlternating(1), holds);
    EXPECT_EQ(feedAlternating(2), std::vector<int32_t>(9, 0));
}

}  // namespace
}  // namespace gesture
