#include "input/KeyboardEmitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Vocabulary.h"
#include "platform/RecordingDesktop.h"

using platform::InputRecord;
using platform::KeyInput;

namespace {

class Keyboard : public ::testing::Test {
  protected:
    void rule(int32_t gesture, int32_t threshold, uint8_t key, int32_t mode, float param = 0,
              uint8_t keyRel = 0) {
        ASSERT_TRUE(emitter.addRule(gesture, threshold, key, keyRel, param, mode));
        ASSERT_TRUE(emitter.registerKey(key));
    }

    // Runs `calls` and returns what they logged.
    template <typename F>
    std::string logged(F calls) {
        testing::internal::CaptureStdout();
        calls();
        return testing::internal::GetCapturedStdout();
    }

    // The key records sent so far, as (vk, up) pairs; forgets them.
    std::vector<std::pair<int, bool>> keys() {
        std::vector<std::pair<int, bool>> out;
        for (const InputRecord& r : desktop.take()) {
            EXPECT_EQ(r.type, InputRecord::Type::Key);
            out.emplace_back(r.key.vk, r.key.flags == platform::KEYEVENTF_KEYUP);
        }
        return out;
    }

    platform::RecordingDesktop desktop;
    KeyboardEmitter emitter{desktop};
};

using Keys = std::vector<std::pair<int, bool>>;
constexpr int kG = GestureId::HAND_RIGHT;

}  // namespace

TEST_F(Keyboard, ClickFiresWhenTheValueFallsBackAndSendsExactRecords) {
    rule(kG, 100, KeyCode::VK_RIGHT, EventType::KEY_CLICK);
    EXPECT_EQ(emitter.handleGesture(GestureId::HAND_LEFT, 500), 0);  // no rule for it
    EXPECT_EQ(emitter.handleGesture(kG, 99), 0);
    EXPECT_EQ(emitter.handleGesture(kG, 100), 1);  // equal counts as reached
    EXPECT_EQ(emitter.handleGesture(kG, 150), 1);
    EXPECT_TRUE(desktop.records().empty());
    std::string log = logged([&] { EXPECT_EQ(emitter.handleGesture(kG, 40), 4); });
    EXPECT_EQ(log, ">>> key : RIGHT - down\t>>> key : RIGHT - release\n");
    const auto records = desktop.take();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].key, (KeyInput{39, 0xCD, 0, 0, 0}));
    EXPECT_EQ(records[1].key, (KeyInput{39, 0xCD, platform::KEYEVENTF_KEYUP, 0, 0}));
    EXPECT_EQ(emitter.handleGesture(kG, 40), 0);  // disarmed
    EXPECT_TRUE(desktop.records().empty());
}

TEST_F(Keyboard, KeysGoOutWithTheirScanCodeOrNoneOutsideTheTable) {
    // Which scan code each key carries, as a desktop receives it: the
    // generic Shift goes out as the left one, the right one differs, and a
    // letter carries none.
    const auto scanSent = [&](uint8_t vk) {
        KeyboardEmitter keys(desktop);
        keys.addRule(kG, 10, vk, 0, 0, EventType::KEY_HOLD);
        keys.registerKey(vk);
        logged([&] {
            keys.handleGesture(kG, 10);
            keys.handleGesture(kG, 0);
        });
        const auto records = desktop.take();
        EXPECT_EQ(records.size(), 2u) << int{vk};
        return records.empty() ? -1 : int{records.back().key.scan};
    };
    EXPECT_EQ(scanSent(KeyCode::VK_SHIFT), scanSent(KeyCode::VK_LSHIFT));
    EXPECT_NE(scanSent(KeyCode::VK_LSHIFT), scanSent(KeyCode::VK_RSHIFT));
    EXPECT_NE(scanSent(KeyCode::VK_LSHIFT), 0);
    EXPECT_EQ(scanSent('A'), 0);
}

TEST_F(Keyboard, LettersLogTheirCharacterOnOneLine) {
    rule(kG, 10, 'A', EventType::KEY_CLICK);
    emitter.handleGesture(kG, 10);
    EXPECT_EQ(logged([&] { emitter.handleGesture(kG, 0); }),
              ">>> key : A - down\t>>> key : A - release\n");
}

TEST_F(Keyboard, AFirstRuleWithoutKeysStopsTheGesture) {
    rule(kG, 10, 0, EventType::KEY_HOLD);
    rule(kG, 10, 'B', EventType::KEY_HOLD);
    EXPECT_EQ(emitter.handleGesture(kG, 50), 0);
    EXPECT_TRUE(desktop.records().empty());
    EXPECT_EQ(emitter.ruleActive(kG), 0);
}

TEST_F(Keyboard, OnlyTheHighestThresholdFiresWhenTheValueStepsDown) {
    rule(kG, 10, 'A', EventType::KEY_CLICK);
    rule(kG, 20, 'B', EventType::KEY_CLICK);
    logged([&] {
        emitter.handleGesture(kG, 25);
        emitter.handleGesture(kG, 15);
        emitter.handleGesture(kG, 5);
    });
    EXPECT_EQ(keys(), (Keys{{'B', false}, {'B', true}}));
    // Straight from 25 to 5 in one call, both fire in table order.
    logged([&] {
        emitter.handleGesture(kG, 25);
        emitter.handleGesture(kG, 5);
    });
    EXPECT_EQ(keys(), (Keys{{'A', false}, {'A', true}, {'B', false}, {'B', true}}));
}

TEST_F(Keyboard, MultiClickCountsDownAndPausesBelowTheThreshold) {
    rule(kG, 10, 'M', EventType::KEY_MULTI_CLICK, 3);
    std::vector<int> clicks;
    logged([&] {
        for (int call = 1; call <= 10; ++call) {
            if (call == 5) {
                // Below the threshold the countdown pauses and keeps its count.
                for (int i = 0; i < 3; ++i) emitter.handleGesture(kG, 0);
            }
            if (emitter.handleGesture(kG, 10) & kResultFired) clicks.push_back(call);
        }
    });
    EXPECT_EQ(clicks, (std::vector<int>{4, 7, 10}));
    EXPECT_EQ(desktop.sleptMs(), 300);
    EXPECT_EQ(
        keys(),
        (Keys{{'M', false}, {'M', true}, {'M', false}, {'M', true}, {'M', false}, {'M', true}}));

    KeyboardEmitter once(desktop);
    once.addRule(kG, 10, 'N', 0, 0, EventType::KEY_MULTI_CLICK);
    once.registerKey('N');
    int fired = 0;
    logged([&] {
        for (int call = 0; call < 5; ++call) fired += (once.handleGesture(kG, 10) & 6) ? 1 : 0;
    });
    EXPECT_EQ(fired, 1);
}

TEST_F(Keyboard, HoldReleasesItsReleaseKeyFirstAndHoldsWhileAbove) {
    rule(GestureId::HAND_LEFT, 10, 'L', EventType::KEY_HOLD);
    rule(kG, 10, 'R', EventType::KEY_HOLD, 0, 'L');
    logged([&] {
        EXPECT_EQ(emitter.handleGesture(kG, 10), 3);  // 'L' is not held: only 'R' goes down
        EXPECT_EQ(emitter.handleGesture(kG, 30), 1);  // nothing more
    });
    EXPECT_EQ(keys(), (Keys{{'R', false}}));
    logged([&] {
        EXPECT_EQ(emitter.handleGesture(kG, 0), 4);
        emitter.handleGesture(GestureId::HAND_LEFT, 50);
        emitter.handleGesture(kG, 50);
    });
    EXPECT_EQ(keys(), (Keys{{'R', true}, {'L', false}, {'L', true}, {'R', false}}));
}

TEST_F(Keyboard, ToggleAlternatesAndLogsWithALineEnd) {
    rule(kG, 10, 'T', EventType::KEY_TOGGLE);
    std::string log = logged([&] {
        emitter.handleGesture(kG, 10);
        EXPECT_EQ(emitter.handleGesture(kG, 0), 2);
        emitter.handleGesture(kG, 10);
        EXPECT_EQ(emitter.handleGesture(kG, 0), 4);
    });
    EXPECT_EQ(log, ">>> key : T - down\n>>> key : T - release\n");
}

TEST_F(Keyboard, StickyShiftStaysDownUntilAnotherGestureFallsBelow) {
    rule(GestureId::HAND_UP, 10, KeyCode::VK_SHIFT, EventType::KEY_CLICK);
    rule(kG, 10, 'X', EventType::KEY_CLICK);
    logged([&] {
        emitter.handleGesture(GestureId::HAND_UP, 20);
        EXPECT_EQ(emitter.handleGesture(GestureId::HAND_UP, 0), 2);  // Shift goes down, stays
    });
    EXPECT_EQ(keys(), (Keys{{16, false}}));
    EXPECT_TRUE(emitter.isDown(16));
    logged([&] { emitter.handleGesture(kG, 0); });  // not armed, below: releases Shift first
    EXPECT_EQ(keys(), (Keys{{16, true}}));
    EXPECT_FALSE(emitter.isDown(16));
    EXPECT_EQ(emitter.ruleActive(GestureId::HAND_UP), 0);
}

TEST_F(Keyboard, UnregisteredAndRepeatedPressesAreIgnored) {
    EXPECT_EQ(emitter.pressKey('Q'), 0);
    ASSERT_TRUE(emitter.registerKey('Q'));
    ASSERT_TRUE(emitter.registerKey('Q'));
    EXPECT_EQ(emitter.keyCount(), 1);
    logged([&] {
        EXPECT_EQ(emitter.pressKey('Q'), 2);
        EXPECT_EQ(emitter.pressKey('Q'), 0);
        EXPECT_EQ(emitter.releaseKey('Q'), 4);
        EXPECT_EQ(emitter.releaseKey('Q'), 0);
        EXPECT_EQ(emitter.pressKey(0), 0);
    });
    EXPECT_EQ(keys().size(), 2u);
}

TEST_F(Keyboard, ResetAndReleaseAllLogsWhileReleaseAllIsSilent) {
    rule(kG, 10, 'H', EventType::KEY_HOLD);
    rule(GestureId::HAND_LEFT, 10, 'C', EventType::KEY_CLICK);
    logged([&] {
        emitter.handleGesture(kG, 20);
        emitter.handleGesture(GestureId::HAND_LEFT, 20);
    });
    keys();
    EXPECT_EQ(logged([&] { emitter.resetAndReleaseAllKeys(); }), ">>> key : H - release\n");
    EXPECT_EQ(keys(), (Keys{{'H', true}}));
    EXPECT_EQ(emitter.ruleActive(GestureId::HAND_LEFT), 0);
    // The click was disarmed: falling below fires nothing.
    logged([&] { emitter.handleGesture(GestureId::HAND_LEFT, 0); });
    EXPECT_TRUE(keys().empty());

    logged([&] { emitter.handleGesture(kG, 20); });
    keys();
    EXPECT_EQ(logged([&] { emitter.releaseAllKeys(); }), "");
    EXPECT_EQ(keys(), (Keys{{'H', true}}));
}

TEST_F(Keyboard, RuleQueriesAndResets) {
    rule(kG, 30, 'A', EventType::KEY_CLICK);
    rule(GestureId::HAND_LEFT, 40, 'B', EventType::KEY_CLICK);
    EXPECT_EQ(emitter.ruleThreshold(kG), 30);
    EXPECT_EQ(emitter.ruleThreshold(GestureId::HAND_UP), 0);
    emitter.handleGesture(kG, 50);
    emitter.handleGesture(GestureId::HAND_LEFT, 50);
    emitter.resetOtherRules(kG);
    EXPECT_EQ(emitter.ruleActive(kG), 1);
    EXPECT_EQ(emitter.ruleActive(GestureId::HAND_LEFT), 0);
    emitter.resetRules();
    EXPECT_EQ(emitter.ruleActive(kG), 0);
    logged([&] { emitter.handleGesture(kG, 0); });
    EXPECT_TRUE(keys().empty());
}

TEST_F(Keyboard, TablesRefuseEntriesPastTheirCapacity) {
    for (int i = 0; i < KeyboardEmitter::kMaxRules; ++i) {
        ASSERT_TRUE(emitter.addRule(kG, 1, 'A', 0, 0, 1));
    }
    EXPECT_FALSE(emitter.addRule(kG, 1, 'A', 0, 0, 1));
    for (int k = 1; k <= KeyboardEmitter::kMaxKeys; ++k) ASSERT_TRUE(emitter.registerKey(k));
    EXPECT_FALSE(emitter.registerKey(200));
    EXPECT_TRUE(emitter.registerKey(1));
}
