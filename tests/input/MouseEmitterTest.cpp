// The mouse emitter's rule state machines, checked on the exact records of the
// recording backend and on the log text.
#include "input/MouseEmitter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/Vocabulary.h"
#include "platform/RecordingDesktop.h"

using namespace platform;
using namespace EventType;
using namespace GestureId;
using KeyCode::M_LBUTTON;
using KeyCode::M_MBUTTON;
using KeyCode::M_MOVE;
using KeyCode::M_NOMOVE;
using KeyCode::M_RBUTTON;
using KeyCode::M_WHEEL;

namespace {

using Flags = std::vector<uint32_t>;
using Point = std::pair<int32_t, int32_t>;
constexpr uintptr_t kExtra = 0xBEEF;

template <typename F>
std::string logged(F calls) {
    testing::internal::CaptureStdout();
    calls();
    return testing::internal::GetCapturedStdout();
}

class Mouse : public ::testing::Test {
  protected:
    // The worker is stopped: these tests read the targets the emitter hands
    // over, and the virtual cursor stays where it is.
    void SetUp() override {
        desktop.setExtraInfo(kExtra);
        emitter.cursor().stop();
    }

    void rule(int32_t gesture, int32_t threshold, uint8_t key, int32_t mode, float param = 0) {
        ASSERT_TRUE(emitter.addRule(gesture, threshold, key, param, mode));
        ASSERT_TRUE(emitter.registerButton(key));
    }
    void map(int32_t w = 640, int32_t h = 480) {
        logged([&] { emitter.configureScreenMapping(w, h); });
    }
    Point target() const { return {emitter.cursor().target().x, emitter.cursor().target().y}; }

    // The flags of the records sent since the last call. Every record must be a
    // button event at the cursor carrying the extra info; a wheel notch is one
    // notch toward the user.
    Flags sent() {
        Flags flags;
        for (const InputRecord& r : desktop.take()) {
            EXPECT_EQ(r.type, InputRecord::Type::Mouse);
            MouseInput expected;
            expected.flags = r.mouse.flags;
            expected.mouseData = (r.mouse.flags & MOUSEEVENTF_WHEEL) ? -WHEEL_DELTA : 0;
            expected.extraInfo = kExtra;
            EXPECT_EQ(r.mouse, expected);
            flags.push_back(r.mouse.flags);
        }
        return flags;
    }

    RecordingDesktop desktop{{1920, 1080}};
    MouseEmitter emitter{desktop};
};

TEST_F(Mouse, ClickAndDoubleClickFireWhenTheValueFallsBack) {
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_CLICK);
    rule(HAND_BACK, 100, M_RBUTTON, MOUSE_DOUBLE_CLICK);

    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 100), 1);
    EXPECT_EQ(sent(), Flags{});
    std::string log = logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 99), 4); });
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    EXPECT_EQ(log, ">>> mouse : L_BUTTON - down\t>>> mouse : L_BUTTON - release\n");
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 99), 0);  // disarmed by firing
    EXPECT_EQ(sent(), Flags{});

    emitter.handleGesture(0, 0, HAND_BACK, 500);
    log = logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_BACK, 0), 4); });
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN,
                             MOUSEEVENTF_RIGHTUP}));
    EXPECT_EQ(log,
              ">>> mouse : R_BUTTON - down\t>>> mouse : R_BUTTON - release\n"
              ">>> mouse : R_BUTTON - down\t>>> mouse : R_BUTTON - release\n");
}

TEST_F(Mouse, OnlyTheHighestThresholdOfAGestureFires) {
    rule(HAND_PUSH, 200, M_RBUTTON, MOUSE_CLICK);
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_CLICK);
    emitter.handleGesture(0, 0, HAND_PUSH, 250);
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 4);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}));
    // The cancellation is spent: the lower rule fires on its own next time.
    emitter.handleGesture(0, 0, HAND_PUSH, 150);
    emitter.handleGesture(0, 0, HAND_PUSH, 0);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
}

TEST_F(Mouse, AClickOnMoveGoesToTheArmedPosition) {
    rule(HAND_PUSH, 100, M_MOVE, MOUSE_CLICK);
    map();
    emitter.handleGesture(20, -10, HAND_PUSH, 150);
    EXPECT_EQ(logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0); }), "");
    // 20 x 5.4857 and -10 x 4.32, truncated, from the cursor at the centre;
    // the up half of the click finds the same target and leaves it.
    EXPECT_EQ(target(), (Point{960 + 109, 540 - 43}));
    EXPECT_EQ((Point{emitter.lastPushed().x, emitter.lastPushed().y}), target());
    EXPECT_EQ(sent(), Flags{});

    // Displacements within the move threshold are filtered out; far ones are
    // clamped five pixels inside the screen.
    EXPECT_EQ(emitter.buttonDown(10, -10, M_MOVE), 0);
    EXPECT_EQ(target(), (Point{1069, 497}));
    EXPECT_EQ(emitter.buttonUp(500, 500, M_MOVE), 0);
    EXPECT_EQ(target(), (Point{1915, 1075}));
}

TEST_F(Mouse, HoldKeepsTheButtonDownWhileAtOrAboveTheThreshold) {
    rule(HAND_PUSH, 100, M_MBUTTON, MOUSE_HOLD);
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 100), 3);
    EXPECT_EQ(sent(), Flags{MOUSEEVENTF_MIDDLEDOWN});
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 400), 1);
    EXPECT_EQ(sent(), Flags{});
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 99), 4);
    EXPECT_EQ(sent(), Flags{MOUSEEVENTF_MIDDLEUP});
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0);
    EXPECT_EQ(emitter.buttonDown(0, 0, M_RBUTTON), 0);  // not registered
    EXPECT_EQ(sent(), Flags{});
}

TEST_F(Mouse, ToggleAlternatesDownAndUpOnEachFiring) {
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_TOGGLE);
    emitter.handleGesture(0, 0, HAND_PUSH, 100);
    std::string log = logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 2); });
    EXPECT_EQ(sent(), Flags{MOUSEEVENTF_LEFTDOWN});
    EXPECT_EQ(log, ">>> mouse : L_BUTTON - down\n");
    EXPECT_TRUE(emitter.isDown(M_LBUTTON));
    emitter.handleGesture(0, 0, HAND_PUSH, 100);
    log = logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 4); });
    EXPECT_EQ(sent(), Flags{MOUSEEVENTF_LEFTUP});
    EXPECT_EQ(log, ">>> mouse : L_BUTTON - release\n");
}

TEST_F(Mouse, MultiClickCountsDownAndPausesBetweenDownAndUp) {
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_MULTI_CLICK, 3.7f);
    // The countdown starts at the parameter (3): the first click comes on the
    // fourth call, then every third; a call below the threshold keeps it.
    const int values[] = {100, 100, 100, 100, 100, 100, 0, 100};
    const int results[] = {1, 1, 1, 5, 1, 1, 0, 5};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, values[i]), results[i]) << "call " << i;
        if (results[i] == 5) {
            EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP})) << "call " << i;
        } else {
            EXPECT_EQ(sent(), Flags{}) << "call " << i;
        }
    }
    EXPECT_EQ(desktop.sleptMs(), 200);
}

TEST_F(Mouse, WheelTypesActOnlyOnTheHoldPulse) {
    rule(HAND_PUSH, 50, M_LBUTTON, MOUSEW_CLICK);
    rule(HAND_BACK, 50, M_RBUTTON, MOUSEW_DCLICK);
    rule(HAND_UP, 50, M_MBUTTON, MOUSEW_TOGGLE);
    rule(HAND_DOWN, 50, M_WHEEL, MOUSEW_CLICK);
    auto& hold = emitter.cursor().holdFlag;

    hold = 0;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 50), 1);
    EXPECT_EQ(sent(), Flags{});
    hold = 1;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 50), 5);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    // One pulse, one event: a pulse that was acted on is not seen again,
    // however long the worker goes without a sample.
    EXPECT_EQ(hold.load(), 0);
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 50), 1);
    EXPECT_EQ(sent(), Flags{});
    hold = 1;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 50), 5);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    // They never arm: falling below the threshold does nothing, pulse or not.
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0);
    hold = 0;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0);
    EXPECT_EQ(sent(), Flags{});

    hold = 1;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_BACK, 60), 5);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN,
                             MOUSEEVENTF_RIGHTUP}));
    hold = 1;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_UP, 60), 3);
    hold = 1;
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_UP, 60), 5);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP}));

    // The wheel's down is one notch; its up is a record without flags.
    hold = 1;
    const std::string log =
        logged([&] { EXPECT_EQ(emitter.handleGesture(0, 0, HAND_DOWN, 60), 5); });
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_WHEEL, 0}));
    EXPECT_EQ(log, ">>> mouse : WHEEL - down\t>>> mouse : WHEEL - release\n");
}

TEST_F(Mouse, AtCursorKindTwoFiresWithinOneCallAndOtherKindsDoNothing) {
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_CLICK);
    EXPECT_EQ(emitter.handleGestureAtCursor(HAND_PUSH, 100, 3), 0);
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0);  // kind 3 did not arm
    EXPECT_EQ(emitter.handleGestureAtCursor(HAND_PUSH, 100, 2), 4);
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    EXPECT_EQ(emitter.handleGestureAtCursor(HAND_PUSH, 100, 1), 1);  // kind 1 only arms
    EXPECT_EQ(sent(), Flags{});
}

TEST_F(Mouse, NoMoveHoldReportsPressAndReleaseWithoutLogging) {
    rule(HAND_HOLD, 10, M_NOMOVE, MOUSE_HOLD);
    const std::string log = logged([&] {
        EXPECT_EQ(emitter.handleGesture(0, 0, HAND_HOLD, 10), 3);
        EXPECT_EQ(emitter.handleGesture(0, 0, HAND_HOLD, 9), 4);
    });
    EXPECT_EQ(log, "");
    EXPECT_EQ(sent(), (Flags{0, 0}));
}

TEST_F(Mouse, FineScaleUpToTheMoveThresholdFullScaleAbove) {
    rule(HAND_MOVE, 40, M_MOVE, MOUSE_MOVE);
    map();
    const auto moved = [&](auto call) {
        const Point before = target();
        EXPECT_EQ(call(), 1);
        return Point{target().first - before.first, target().second - before.second};
    };
    EXPECT_EQ(moved([&] { return emitter.moveCursor(10, -20, M_MOVE, 40); }), (Point{5, -10}));
    // 54.86 and -86.4 truncate toward zero.
    EXPECT_EQ(moved([&] { return emitter.moveCursor(10, -20, M_MOVE, 41); }), (Point{54, -86}));
    // A MOUSE_MOVE rule moves on both sides of its threshold.
    EXPECT_EQ(moved([&] { return emitter.handleGesture(10, -20, HAND_MOVE, 39); }),
              (Point{5, -10}));
    EXPECT_EQ(moved([&] { return emitter.handleGesture(10, -20, HAND_MOVE, 41); }),
              (Point{54, -86}));

    // Without a HAND_MOVE rule every value from 0 up is fast.
    MouseEmitter bare(desktop);
    bare.cursor().stop();
    logged([&] { bare.configureScreenMapping(640, 480); });
    bare.moveCursor(10, -20, M_MOVE, 0);
    EXPECT_EQ(bare.cursor().target().x, 960 + 54);
}

TEST_F(Mouse, ButtonNames) {
    EXPECT_STREQ(emitter.buttonName(7), "");
    const std::pair<int, const char*> names[] = {
        {101, "MOVE"},  {102, "L_BUTTON"}, {103, "R_BUTTON"}, {104, "M_BUTTON"},
        {105, "WHEEL"}, {200, "NO_MOVE"},  {240, "NONE"},     {241, "NONE"}};
    for (const auto& [code, name] : names) EXPECT_STREQ(emitter.buttonName(code), name);
    EXPECT_STREQ(emitter.buttonName(7), "NONE");  // other codes leave the last text
}

TEST_F(Mouse, ReleaseAllLiftsHeldButtonsSilentlyAndStopsTheWorker) {
    rule(HAND_PUSH, 10, M_LBUTTON, MOUSE_HOLD);
    rule(HAND_BACK, 10, M_RBUTTON, MOUSE_HOLD);
    rule(HAND_UP, 10, M_MBUTTON, MOUSE_HOLD);
    emitter.handleGesture(0, 0, HAND_PUSH, 10);
    emitter.handleGesture(0, 0, HAND_UP, 10);
    sent();
    EXPECT_EQ(logged([&] { emitter.releaseAllButtons(); }), "");
    EXPECT_EQ(sent(), (Flags{MOUSEEVENTF_LEFTUP, MOUSEEVENTF_MIDDLEUP}));
    EXPECT_TRUE(emitter.isDown(M_LBUTTON));  // the program is ending: state is left as it was
    EXPECT_FALSE(emitter.cursor().running());
}

TEST_F(Mouse, ResetAndReleaseDisarmsRulesAndReleasesWithALogLine) {
    rule(HAND_PUSH, 100, M_LBUTTON, MOUSE_CLICK);
    rule(HAND_HOLD, 10, M_NOMOVE, MOUSE_HOLD);
    rule(HAND_UP, 10, M_RBUTTON, MOUSE_HOLD);
    emitter.handleGesture(0, 0, HAND_PUSH, 100);
    emitter.handleGesture(0, 0, HAND_HOLD, 10);
    emitter.handleGesture(0, 0, HAND_UP, 10);
    sent();
    const std::string log = logged([&] { emitter.resetAndReleaseAllButtons(); });
    EXPECT_EQ(sent(), (Flags{0, MOUSEEVENTF_RIGHTUP}));
    EXPECT_EQ(log, ">>> mouse : NO_MOVE - release\n>>> mouse : R_BUTTON - release\n");
    EXPECT_FALSE(emitter.isDown(M_RBUTTON));
    EXPECT_EQ(emitter.ruleActive(HAND_UP), 0);
    EXPECT_EQ(emitter.handleGesture(0, 0, HAND_PUSH, 0), 0);  // the click was disarmed
    EXPECT_EQ(sent(), Flags{});
    EXPECT_EQ(emitter.ruleThreshold(HAND_LEFT), -1);
}

TEST_F(Mouse, ScreenMappingFigures) {
    const std::string log = logged([&] { emitter.configureScreenMapping(640, 480); });
    EXPECT_EQ(log, "\nSensor resolution: (640, 480), Screen resulotion: (1920, 1080)\n");
    EXPECT_EQ(emitter.mapping().scaleX, 5.4857144f);
    EXPECT_EQ(emitter.mapping().scaleY, 4.32f);
    EXPECT_EQ(emitter.mapping().offsetX, 795);
    EXPECT_EQ(emitter.mapping().offsetY, 496);
    EXPECT_EQ(emitter.mapping().moveThreshold, 10);
    EXPECT_EQ(emitter.mapping().holdFrames, 30);
    EXPECT_EQ(emitter.mapping().holdTolerance, 10.0f);
    EXPECT_EQ(emitter.mapping().fineScaleX, 0.5f);
    const CursorThread& t = emitter.cursor();
    EXPECT_EQ((Point{t.settings().screenWidth, t.settings().screenHeight}), (Point{1920, 1080}));
    EXPECT_EQ((Point{t.target().x, t.target().y}), (Point{960, 540}));
    EXPECT_EQ((Point{t.lastSent().x, t.lastSent().y}), (Point{960, 540}));
    EXPECT_EQ((Point{t.settings().holdFrames, t.settings().holdTolerance}), (Point{30, 10}));

    map(320, 240);  // the depth image is smaller than the active region
    EXPECT_EQ(emitter.mapping().offsetX, -82);
    EXPECT_EQ(emitter.mapping().offsetY, -21);
}

TEST_F(Mouse, ScreenMappingTakesTheFirstMoveAndHoldRules) {
    rule(HAND_HOLD, 1500, M_LBUTTON, MOUSEW_CLICK, 15.0f);
    rule(HAND_MOVE, 250, M_MOVE, MOUSE_MOVE, 0.3f);
    rule(HAND_HOLD, 3000, M_RBUTTON, MOUSEW_CLICK, 40.0f);
    rule(HAND_MOVE, 90, M_MOVE, MOUSE_MOVE, 0.8f);
    map();
    EXPECT_EQ(emitter.mapping().holdFrames, 45);
    EXPECT_EQ(emitter.mapping().holdTolerance, 30.0f);
    EXPECT_EQ(emitter.mapping().moveThreshold, 250);
    EXPECT_EQ(emitter.mapping().fineScaleY, 0.3f);
    EXPECT_EQ(
        (Point{emitter.cursor().settings().holdFrames, emitter.cursor().settings().holdTolerance}),
        (Point{45, 30}));

    // Threshold -1 keeps the defaults; the worker's tolerance is truncated.
    MouseEmitter other(desktop);
    other.addRule(HAND_HOLD, -1, M_LBUTTON, 7.3f, MOUSEW_CLICK);
    other.addRule(HAND_MOVE, -1, M_MOVE, 0.0f, MOUSE_MOVE);
    logged([&] { other.configureScreenMapping(640, 480); });
    EXPECT_EQ(other.mapping().holdFrames, 30);
    EXPECT_EQ(other.mapping().holdTolerance, 14.6f);
    EXPECT_EQ(other.cursor().settings().holdTolerance, 14);
    EXPECT_EQ(other.mapping().moveThreshold, 10);
    EXPECT_EQ(other.mapping().fineScaleX, 0.5f);
}

// A display server that is slow to take the first move: the worker falls
// behind the frames and then takes the queued targets back to back.
class SlowFirstMoveDesktop final : public Desktop {
  public:
    void sendKey(const KeyInput& input) override { inner.sendKey(input); }
    void sendMouse(const MouseInput& input) override {
        if (first_.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(60));
        inner.sendMouse(input);
    }
    ScreenPoint cursorPos() override { return inner.cursorPos(); }
    ScreenSize screenSize() override { return inner.screenSize(); }
    void sleepMs(int milliseconds) override { inner.sleepMs(milliseconds); }

    RecordingDesktop inner{{1920, 1080}};

  private:
    std::atomic<bool> first_{true};
};

TEST(MouseHold, AWorkerThatFallsBehindStillGivesTheHoldItsClick) {
    SlowFirstMoveDesktop desktop;
    MouseEmitter emitter(desktop);
    emitter.addRule(HAND_MOVE, 3, M_MOVE, 0.5f, MOUSE_MOVE);
    emitter.addRule(HAND_HOLD, 1000, M_LBUTTON, 10.0f, MOUSEW_CLICK);
    emitter.registerButton(M_LBUTTON);
    logged([&] {
        emitter.configureScreenMapping(320, 240);
        // A still hand for 40 frames: the 30th sample completes the hold.
        for (int frame = 0; frame < 40; ++frame) {
            emitter.handleGesture(0, 0, HAND_MOVE, 0);
            emitter.handleGesture(0, 0, HAND_HOLD, 1000);
        }
    });
    emitter.cursor().stop();
    int clicks = 0;
    for (const InputRecord& r : desktop.inner.records()) {
        clicks += r.type == InputRecord::Type::Mouse && r.mouse.flags == MOUSEEVENTF_LEFTDOWN;
    }
    EXPECT_EQ(clicks, 1);
}

}  // namespace
