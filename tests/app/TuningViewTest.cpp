#include "app/TuningView.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "config/Vocabulary.h"
#include "gesture/GestureFeed.h"
#include "platform/RecordingDesktop.h"

namespace {

using gesture::Point3f;

TEST(TuningView, BarsFollowTheModeAndMarkArmedAndFiredRules) {
    const std::string config = testing::TempDir() + "tuning_view_test.txt";
    std::ofstream(config) << "HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n"
                             "HAND_UP 10 KEY_CLICK VK_UP 0 0\n"
                             "TWO_HANDS_OPEN 40 KEY_CLICK O 0 0\n";
    platform::RecordingDesktop desktop;
    gesture::GestureFeed feed(desktop);
    feed.manager().router().mouse().cursor().stop();
    testing::internal::CaptureStdout();
    ASSERT_EQ(feed.manager().router().loadGestureConfig(config.c_str(), 640, 480), 0);
    TuningView view;
    feed.manager().setDecisionSink(&view);
    gesture::FeedbackState state;
    const Point3f depth[3] = {};
    const auto hand = [&](float x) {
        const Point3f world[3] = {{x, 0, 1000}, {}, {}};
        feed.feedHandPoints(depth, world, 1, state);
    };
    for (int i = 0; i < 8; ++i) hand(0);
    const TuningModel& m = view.model();
    ASSERT_EQ(m.barCount, 2);  // the HAND_ gestures with rules, in their order
    EXPECT_EQ(m.bars[0].gesture, GestureId::HAND_RIGHT);
    EXPECT_EQ(m.bars[1].gesture, GestureId::HAND_UP);
    EXPECT_EQ(m.bars[0].threshold, 100);
    EXPECT_EQ(m.holdState, 1);

    for (int i = 1; i <= 5; ++i) hand(40.0f * static_cast<float>(i));
    EXPECT_TRUE(m.bars[0].judged);
    EXPECT_TRUE(m.bars[0].armed);
    EXPECT_FALSE(m.bars[0].fired);
    EXPECT_FLOAT_EQ(m.bars[0].measure, 200.0f);
    EXPECT_FALSE(m.bars[1].judged);

    for (int i = 1; i <= 3; ++i) hand(200.0f - 40.0f * static_cast<float>(i));
    EXPECT_TRUE(m.bars[0].fired);
    EXPECT_FALSE(m.bars[0].armed);

    const Point3f two[3] = {{-250, 0, 1000}, {250, 0, 1000}, {0, 0, 1200}};
    feed.feedHandPoints(depth, two, 2, state);
    ASSERT_EQ(m.barCount, 1);
    EXPECT_EQ(m.bars[0].gesture, GestureId::TWO_HANDS_OPEN);
    EXPECT_FALSE(m.referenceSet);
    testing::internal::GetCapturedStdout();
}

}  // namespace
