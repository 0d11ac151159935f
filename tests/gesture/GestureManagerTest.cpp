#include "gesture/GestureManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "gesture/GestureFeed.h"
#include "platform/RecordingDesktop.h"

namespace gesture {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A manager on a recording desktop, loaded with `config`, its cursor worker
// stopped so that nothing but the frames drives it.
struct Fixture {
    explicit Fixture(const std::string& config) {
        const std::string path = testing::TempDir() + "gesture_manager_test.txt";
        std::ofstream(path) << config;
        feed->manager().router().mouse().cursor().stop();
        CaptureStdout();
        loaded = feed->manager().router().loadGestureConfig(path.c_str(), 640, 480);
        GetCapturedStdout();
        desktop.take();
    }
    EventRouter& router() { return feed->manager().router(); }
    void frame(std::initializer_list<Point3f> hands) {
        Point3f world[3] = {};
        const Point3f depth[3] = {};
        int i = 0;
        for (const Point3f& p : hands) world[i++] = p;
        feed->feedHandPoints(depth, world, static_cast<int32_t>(hands.size()), state);
    }

    platform::RecordingDesktop desktop;
    std::unique_ptr<GestureFeed> feed = std::make_unique<GestureFeed>(desktop);
    FeedbackState state;
    int32_t loaded = -1;
};

TEST(GesturePoint, ShiftsXFlipsYAndTruncates) {
    EXPECT_EQ(GestureManager::toGesturePoint({-100.0f, 250.0f, 900.0f}),
              (Point3i{4900, 4750, 900}));
    EXPECT_EQ(GestureManager::toGesturePoint({-0.5f, 0.5f, 899.9f}), (Point3i{4999, 4999, 899}));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(GestureManager::toGesturePoint({nan, inf, -inf}),
              (Point3i{5000, 5000 - 1000000, -1000000}));
}

TEST(GestureManagerTeardown, PrintsAndReleasesKeysBeforeButtons) {
    std::string output;
    std::vector<platform::InputRecord> records;
    {
        Fixture f(
            "TWO_HANDS_UP 1 KEY_HOLD VK_SPACE 0 0\n"
            "TWO_HANDS_UP 1 MOUSE_HOLD M_LBUTTON 0 0\n");
        ASSERT_EQ(f.loaded, 0);
        CaptureStdout();
        EXPECT_EQ(f.router().keyboard().handleGesture(GestureId::TWO_HANDS_UP, 50), 3);
        EXPECT_EQ(f.router().mouse().handleGesture(0, 0, GestureId::TWO_HANDS_UP, 50), 3);
        GetCapturedStdout();
        f.desktop.take();
        CaptureStdout();
        f.feed.reset();
        output = GetCapturedStdout();
        records = f.desktop.take();
    }
    EXPECT_EQ(output, "\nrelease keys & mouse...\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, platform::InputRecord::Type::Key);
    EXPECT_EQ(records[0].key.flags, platform::KEYEVENTF_KEYUP);
    EXPECT_EQ(records[1].mouse.flags, platform::MOUSEEVENTF_LEFTUP);
}

TEST(GestureManagerTeardown, PrintsEvenWithNothingHeld) {
    platform::RecordingDesktop desktop;
    CaptureStdout();
    { GestureManager manager(desktop); }
    EXPECT_EQ(GetCapturedStdout(), "\nrelease keys & mouse...\n");
    EXPECT_TRUE(desktop.records().empty());
}

TEST(EventRouting, GesturesWithoutRulesGiveZeroEverywhere) {
    Fixture f("HAND_PUSH 5 KEY_CLICK VK_RETURN 0 0\n");
    EventRouter& r = f.router();
    for (int32_t g : std::initializer_list<int32_t>{GestureId::HAND_BACK, -1, 50, 1000}) {
        EXPECT_EQ(r.routeGesture(g, 100), 0);
        EXPECT_EQ(r.routeGestureAtCursor(g, 100, 1), 0);
        EXPECT_EQ(r.routeMove(1, 1, g, 100), 0);
        EXPECT_EQ(r.gestureThreshold(g), 0);
        EXPECT_EQ(r.gestureActive(g), 0);
        r.clearOtherRuleStates(g);
    }
    EXPECT_EQ(r.gestureThreshold(GestureId::HAND_PUSH), 50);
    EXPECT_TRUE(f.desktop.records().empty());
}

TEST(EventRouting, TheToggleGestureFlipsTheOneHandModeOnEveryPressAndRelease) {
    Fixture f("TWO_HANDS_PUSH 5 KEY_HOLD TOGGLE_MODE 0 0\n");
    EventRouter& r = f.router();
    CaptureStdout();
    EXPECT_EQ(r.routeGesture(GestureId::TWO_HANDS_PUSH, 60), 3);
    EXPECT_EQ(r.oneHandMode, 2);
    EXPECT_EQ(r.routeGesture(GestureId::TWO_HANDS_PUSH, 70), 1);  // nothing emitted
    EXPECT_EQ(r.oneHandMode, 2);
    EXPECT_EQ(r.routeGesture(GestureId::TWO_HANDS_PUSH, 10), 4);
    EXPECT_EQ(r.oneHandMode, 1);
    EXPECT_EQ(GetCapturedStdout(),
              ">>> key : NONE - down\t\n>   Change to Mouse mode (2) !!!\n\a"
              ">>> key : NONE - release\n\n>   Change to Keyboard mode (1) !!!\n\a");
    // Only routeGesture switches.
    CaptureStdout();
    r.routeGestureAtCursor(GestureId::TWO_HANDS_PUSH, 60, 1);
    GetCapturedStdout();
    EXPECT_EQ(r.oneHandMode, 1);
}

TEST(EventRouting, AGestureThatIsAlsoTheChangeGestureNeverToggles) {
    Fixture f("TWO_HANDS_PUSH 5 KEY_CLICK TOGGLE_MODE,CHANGE_MODE 0 0\n");
    CaptureStdout();
    f.router().routeGesture(GestureId::TWO_HANDS_PUSH, 60);
    EXPECT_NE(f.router().routeGesture(GestureId::TWO_HANDS_PUSH, 0) & kResultFired, 0);
    GetCapturedStdout();
    EXPECT_EQ(f.router().oneHandMode, 1);
}

TEST(GestureFeed, ThreeHandsComputeOnlyTheModes) {
    Fixture f("ONE_HAND_MODE MOUSE_MODE\nHAND_PUSH 5 KEY_CLICK VK_RETURN 0 0\n");
    CaptureStdout();
    for (int i = 0; i < 40; ++i) f.frame({{0, 0, 1000}, {300, 0, 1000}, {150, 0, 1200}});
    GetCapturedStdout();
    const GestureFeatures& features = f.feed->manager().lastFeatures();
    EXPECT_EQ(features.valid, 1);
    EXPECT_EQ(features.oneHandMode, 2);
    EXPECT_EQ(features.strokeClass, StrokeClass::NONE);
    EXPECT_EQ(features.holding, 0);
    EXPECT_EQ(f.state, (FeedbackState{2, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(f.desktop.records().empty());
}

TEST(GestureFeed, KeepsTheDepthPointsAsWholePixels) {
    Fixture f("");
    const Point3f depth[3] = {{320.7f, 240.2f, 999.9f}, {-3.9f, 0, 0}, {}};
    const Point3f world[3] = {};
    EXPECT_EQ(f.feed->feedHandPoints(depth, world, 1, f.state), 1);
    EXPECT_EQ(f.feed->depthPoint(0), (Point3i{320, 240, 999}));
    EXPECT_EQ(f.feed->depthPoint(1), (Point3i{}));  // only the tracked hands are copied
    EXPECT_EQ(f.feed->feedHandPoints(depth, world, 2, f.state), 1);
    EXPECT_EQ(f.feed->depthPoint(1), (Point3i{-3, 0, 0}));
}

TEST(GestureFeed, ANegativeHandCountIsReportedAndTakenAsNoHands) {
    Fixture f("HAND_PUSH 5 KEY_HOLD VK_RETURN 0 0\n");
    const Point3f none[3] = {};
    CaptureStdout();
    f.feed->feedHandPoints(none, none, -2, f.state);
    EXPECT_EQ(GetCapturedStdout(),
              "gesture: hand count -2 is negative; treating the frame as one without hands\n");
    EXPECT_EQ(f.state.active, 0);
}

}  // namespace
}  // namespace gesture
