#include <gtest/gtest.h>

#include <string>

#include "config/EventRouter.h"
#include "platform/RecordingDesktop.h"
#include "tests/support/TempFile.h"

namespace {

class Loader : public ::testing::Test {
  protected:
    // Loads `text` as a configuration file; returns the loader's result and
    // keeps what it printed in `out`.
    int load(const std::string& text, int width = 320, int height = 240) {
        TempFile file(text);
        testing::internal::CaptureStdout();
        const int result = router.loadGestureConfig(file.path().c_str(), width, height);
        out = testing::internal::GetCapturedStdout();
        // The path varies; the rest of the opening line does not.
        const std::string opening = "Open configuration file : " + file.path() + "\n";
        EXPECT_EQ(out.rfind(opening, 0), 0u) << out;
        out = out.substr(opening.size());
        return result;
    }

    platform::RecordingDesktop desktop{{1920, 1080}};
    EventRouter router{desktop};
    std::string out;
};

const char* const kHeader = "\n[Gesture   Threshod   Mode   Key   Key_Rel   Param]\n";
const char* const kMapping320 =
    "\nSensor resolution: (320, 240), Screen resulotion: (1920, 1080)\n";
const char* const kError = "configuration file format : error\n";

}  // namespace

TEST_F(Loader, KeyboardRuleIsStoredScaledAndEchoed) {
    ASSERT_EQ(load("ONE_HAND_PUSH 5 KEY_CLICK VK_RETURN 0 500\n"), 0);
    const KeyboardEmitter& k = router.keyboard();
    ASSERT_EQ(k.ruleCount(), 1);
    EXPECT_EQ(k.rule(0).gesture, 14);
    EXPECT_EQ(k.rule(0).threshold, 50);
    EXPECT_EQ(k.rule(0).key, 13);
    EXPECT_EQ(k.rule(0).keyRel, 0);
    EXPECT_FLOAT_EQ(k.rule(0).param, 15.0f);
    EXPECT_EQ(k.rule(0).mode, 1);
    ASSERT_EQ(k.keyCount(), 1);
    EXPECT_EQ(k.key(0).vk, 13);
    EXPECT_EQ(k.key(0).scanCode, 0x1C);
    EXPECT_EQ(router.eventOfGesture[14], 1);
    EXPECT_EQ(out, std::string(kHeader) +
                       " ONE_HAND_PUSH\t 5\t KEY_CLICK\t VK_RETURN\t 0\t 500.0\n" + kMapping320);
}

TEST_F(Loader, HandHoldKeepsParamDropsLastDigitAndForcesHoldEvents) {
    ASSERT_EQ(load("HAND_HOLD 1505 MOUSE_DOUBLE_CLICK M_WHEEL 0 200\n"
                   "HAND_HOLD 1500 MOUSE_TOGGLE M_LBUTTON 0 15\n"
                   "HAND_HOLD 1000 MOUSEW_DCLICK M_RBUTTON 0 0\n"
                   "HAND_HOLD 1000 NO_SUCH_EVENT M_MBUTTON 0 0\n"),
              0);
    const MouseEmitter& m = router.mouse();
    ASSERT_EQ(m.ruleCount(), 4);
    EXPECT_EQ(m.rule(0).threshold, 1500);
    EXPECT_EQ(m.rule(0).mode, 108);
    EXPECT_FLOAT_EQ(m.rule(0).param, 200.0f);
    EXPECT_EQ(m.rule(1).mode, 109);
    EXPECT_EQ(m.rule(2).mode, 107);
    EXPECT_EQ(m.rule(3).mode, 107);
    EXPECT_NE(out.find(" HAND_HOLD\t 150\t MOUSE_DOUBLE_CLICK\t M_WHEEL\t 0\t 200.0\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find(kError), std::string::npos);
    // Only the first HAND_HOLD rule sets up hold detection: 1500 ms, spread 2 x 200.
    EXPECT_EQ(m.mapping().holdFrames, 45);
    EXPECT_FLOAT_EQ(m.mapping().holdTolerance, 400.0f);
}

TEST_F(Loader, ParamBecomesFramesRoundedDownExceptForMoveAndHoldTypes) {
    ASSERT_EQ(load("HAND_UP 1 KEY_MULTI_CLICK a 0 40\n"
                   "HAND_DOWN 1 KEY_MULTI_CLICK b 0 30\n"
                   "HAND_MOVE 2 MOUSE_MOVE M_MOVE 0 0.3\n"
                   "HAND_LEFT 1 MOUSE_CLICK M_LBUTTON 0 0.3\n"),
              0);
    EXPECT_FLOAT_EQ(router.keyboard().rule(0).param, 1.0f);
    EXPECT_FLOAT_EQ(router.keyboard().rule(1).param, 0.0f);
    EXPECT_FLOAT_EQ(router.mouse().rule(0).param, 0.3f);
    EXPECT_FLOAT_EQ(router.mouse().rule(1).param, 0.0f);
    EXPECT_FLOAT_EQ(router.mouse().mapping().fineScaleX, 0.3f);
    EXPECT_EQ(router.mouse().mapping().moveThreshold, 20);
}

TEST_F(Loader, SeveralKeysMakeOneRuleEachInOrder) {
    ASSERT_EQ(load("TWO_HANDS_UP 10 KEY_HOLD VK_CONTROL,VK_F4 0 0\n"
                   "HAND_PUSH 1 KEY_CLICK ,a,,b, 0 0\n"
                   "HAND_BACK 1 KEY_CLICK , 0 0\n"),
              0);
    const KeyboardEmitter& k = router.keyboard();
    ASSERT_EQ(k.ruleCount(), 4);
    EXPECT_EQ(k.rule(0).key, 17);
    EXPECT_EQ(k.rule(1).key, 115);
    EXPECT_EQ(k.rule(1).gesture, 6);
    EXPECT_EQ(k.rule(2).key, 'A');
    EXPECT_EQ(k.rule(3).key, 'B');
    EXPECT_EQ(k.keyCount(), 4);
    // "," alone names no key: no rule, no error, and no event type recorded.
    EXPECT_EQ(router.eventOfGesture[21], 0);
    EXPECT_NE(out.find(" TWO_HANDS_UP\t 10\t KEY_HOLD\t VK_CONTROL,VK_F4\t 0\t 0.0\n"),
              std::string::npos);
}

TEST_F(Loader, LaterLineDecidesTheEventTypeAndModeKeysAreRecorded) {
    ASSERT_EQ(load("HAND_PUSH 1 KEY_CLICK a 0 0\n"
                   "HAND_PUSH 1 MOUSE_CLICK M_LBUTTON 0 0\n"
                   "TWO_HANDS_PUSH 5 KEY_CLICK TOGGLE_MODE 0 0\n"
                   "TWO_HANDS_BACK 5 KEY_CLICK CHANGE_MODE 0 0\n"),
              0);
    EXPECT_EQ(router.keyboard().ruleCount(), 3);
    EXPECT_EQ(router.mouse().ruleCount(), 1);
    EXPECT_EQ(router.eventOfGesture[20], 101);
    EXPECT_EQ(router.toggleModeGesture, 4);
    EXPECT_EQ(router.changeModeGesture, 5);
    EXPECT_EQ(router.keyboard().rule(1).key, 240);
}

TEST_F(Loader, SettingsCommentsAndDefaults) {
    ASSERT_EQ(load("# a comment line with VK_UP words\n"
                   "ONE_HAND_MODE MOUSE_MODE   # trailing comment HAND_PUSH 1 X\n"
                   "FEEDBACK_SOUND BEEP\n"
                   "FEEDBACK_WINDOW WINDOW2\n"
                   "FEEDBACK_WINDOW WINDOW9\n"
                   "HAND_LEFT 1 KEY_CLICK VK_LEFT 0 0 #HAND_RIGHT 1 KEY_CLICK VK_RIGHT 0 0\n"
                   "FEEDBACK_SOUND loud\n"),
              0);
    EXPECT_EQ(router.oneHandMode, 2);
    EXPECT_EQ(router.twoHandMode, 1);
    EXPECT_EQ(router.feedbackSound, 0);
    EXPECT_EQ(router.feedbackWindow, 2);
    EXPECT_EQ(router.keyboard().ruleCount(), 1);
    EXPECT_NE(out.find(" (ONE_HAND_MODE : MOUSE_MODE)\n"), std::string::npos);
    EXPECT_NE(out.find(" (FEEDBACK_WINDOW : WINDOW9)\n"), std::string::npos);
}

TEST_F(Loader, EmptyFileLoadsWithDefaults) {
    ASSERT_EQ(load("  \n# only a comment\n"), 0);
    EXPECT_EQ(out, std::string(kHeader) + kMapping320);
    EXPECT_EQ(router.oneHandMode, 1);
    EXPECT_EQ(router.feedbackWindow, 4);
    EXPECT_EQ(router.mouse().mapping().holdFrames, 30);
    EXPECT_FLOAT_EQ(router.mouse().mapping().holdTolerance, 10.0f);
    EXPECT_EQ(router.mouse().mapping().moveThreshold, 10);
}

TEST_F(Loader, RuleCutShortByTheEndOfTheFileAddsNothingSilently) {
    ASSERT_EQ(load("HAND_LEFT 1 KEY_CLICK"), 0);
    EXPECT_EQ(router.keyboard().ruleCount(), 0);
    EXPECT_EQ(out.find(kError), std::string::npos);
}

TEST_F(Loader, BadRuleLinesAreReportedAndReadingGoesOn) {
    EXPECT_EQ(load("NONE 1 KEY_CLICK a 0 0\n"
                   "HAND_LEFT 1 KEY_CLICK a,VK_NOPE,b 0 0\n"
                   "HAND_RIGHT 1 KEY_SLAP a 0 0\n"
                   "HAND_UP 1 KEY_CLICK c VK_NOPE 0\n"),
              1);
    // The key before the bad one stays; nothing after it is added.
    const KeyboardEmitter& k = router.keyboard();
    ASSERT_EQ(k.ruleCount(), 2);
    EXPECT_EQ(k.rule(0).key, 'A');
    EXPECT_EQ(k.rule(1).key, 'C');
    EXPECT_EQ(k.rule(1).keyRel, 255);  // an unknown release key is not an error
    const std::string expected = std::string(kHeader) + kError +
                                 " NONE\t 1\t KEY_CLICK\t a\t 0\t 0.0\n" + kError +
                                 " HAND_LEFT\t 1\t KEY_CLICK\t a,VK_NOPE,b\t 0\t 0.0\n" + kError +
                                 " HAND_RIGHT\t 1\t KEY_SLAP\t a\t 0\t 0.0\n" +
                                 " HAND_UP\t 1\t KEY_CLICK\t c\t VK_NOPE\t 0.0\n" + kMapping320;
    EXPECT_EQ(out, expected);
    ASSERT_EQ(router.loadErrors().size(), 3u);
    EXPECT_NE(router.loadErrors()[1].find(":2: not a key 'a,VK_NOPE,b'"), std::string::npos)
        << router.loadErrors()[1];
}

TEST_F(Loader, BadModeValueStopsReadingAtOnce) {
    EXPECT_EQ(load("ONE_HAND_MODE KEYBOARD\nHAND_LEFT 1 KEY_CLICK a 0 0\n"), 1);
    EXPECT_EQ(router.keyboard().ruleCount(), 0);
    EXPECT_EQ(out, std::string(kHeader) + kError + kMapping320);
}

TEST_F(Loader, MissingFileIsReportedAndStillMapsTheScreen) {
    testing::internal::CaptureStdout();
    const int result = router.loadGestureConfig("/nonexistent/tolvane.txt", 640, 480);
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text,
              "Open configuration file : /nonexistent/tolvane.txt\n"
              "/nonexistent/tolvane.txt file not found\n"
              "\nSensor resolution: (640, 480), Screen resulotion: (1920, 1080)\n");

    // A directory opens but cannot be read: refused the same way, not loaded
    // as an empty configuration.
    testing::internal::CaptureStdout();
    EXPECT_EQ(router.loadGestureConfig("/", 640, 480), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("/ file not found\n"), std::string::npos);
    ASSERT_FALSE(router.loadErrors().empty());
    EXPECT_EQ(router.loadErrors().back(), "/: cannot be opened: Is a directory");
}

TEST_F(Loader, NumbersThatAreNotNumbersStopReading) {
    EXPECT_EQ(load("HAND_LEFT ten KEY_CLICK a 0 0\nHAND_RIGHT 1 KEY_CLICK b 0 0\n"), 1);
    EXPECT_EQ(router.keyboard().ruleCount(), 0);
    EXPECT_EQ(out, std::string(kHeader) + kError + kMapping320);
}

TEST_F(Loader, ParamThatIsNotANumberStopsReading) {
    EXPECT_EQ(load("HAND_LEFT 1 KEY_CLICK a 0 1,5\nHAND_RIGHT 1 KEY_CLICK b 0 0\n"), 1);
    EXPECT_EQ(router.keyboard().ruleCount(), 0);
    EXPECT_EQ(out, std::string(kHeader) + kError + kMapping320);
}

TEST_F(Loader, LimitsAreRefusedNeverOverflowed) {
    std::string text;
    // A 50-character word.
    text += "HAND_LEFT 1 KEY_CLICK " + std::string(50, 'x') + " 0 0\n";
    // Eleven keys on one line.
    text += "HAND_RIGHT 1 KEY_CLICK a,b,c,d,e,f,g,h,i,j,k 0 0\n";
    // Fifty-one keyboard rules.
    for (int i = 0; i < 51; ++i) text += "HAND_UP 1 KEY_CLICK a 0 0\n";
    // Eleven different mouse codes (each key code names a distinct entry).
    text += "HAND_DOWN 1 MOUSE_CLICK M_LBUTTON,M_RBUTTON,M_MBUTTON,M_WHEEL,M_MOVE 0 0\n";
    text += "HAND_PUSH 1 MOUSE_CLICK M_NOMOVE,a,b,c,d 0 0\n";
    text += "HAND_BACK 1 MOUSE_CLICK e,f 0 0\n";
    EXPECT_EQ(load(text), 1);
    EXPECT_EQ(router.keyboard().ruleCount(), 50);
    EXPECT_EQ(router.mouse().buttonCount(), 10);
    EXPECT_EQ(router.mouse().ruleCount(), 10);
    size_t errors = 0;
    for (size_t at = out.find(kError); at != std::string::npos; at = out.find(kError, at + 1)) {
        ++errors;
    }
    EXPECT_EQ(errors, 4u);  // the long word, eleven keys, rule 51, mouse code 11
    // A long comment word is still a comment.
    EventRouter other(desktop);
    TempFile file("#" + std::string(300, '#') + " HAND_LEFT\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(other.loadGestureConfig(file.path().c_str(), 320, 240), 0);
    testing::internal::GetCapturedStdout();
}

TEST_F(Loader, ScreenMappingFigures) {
    // A router starts no thread; the mapping starts the worker with its settings.
    EXPECT_FALSE(router.mouse().cursor().running());
    ASSERT_EQ(load("", 640, 480), 0);
    const MouseEmitter& m = router.mouse();
    EXPECT_TRUE(m.cursor().running());
    EXPECT_EQ(m.cursor().settings().screenWidth, 1920);
    EXPECT_FLOAT_EQ(m.mapping().scaleX, 5.4857144f);
    EXPECT_FLOAT_EQ(m.mapping().scaleY, 4.32f);
    EXPECT_EQ(m.mapping().offsetX, 795);
    EXPECT_EQ(m.mapping().offsetY, 496);
    EXPECT_EQ(m.cursor().target().x, 960);
    EXPECT_EQ(m.cursor().lastSent().y, 540);

    EventRouter small(desktop);
    TempFile file("HAND_HOLD 1500 MOUSE_CLICK M_LBUTTON 0 15\nHAND_MOVE 1 MOUSE_MOVE M_MOVE 0 0\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(small.loadGestureConfig(file.path().c_str(), 320, 240), 0);
    testing::internal::GetCapturedStdout();
    const MouseEmitter& s = small.mouse();
    EXPECT_EQ(s.mapping().offsetX, -82);
    EXPECT_EQ(s.mapping().offsetY, -21);
    EXPECT_EQ(s.mapping().holdFrames, 45);
    EXPECT_FLOAT_EQ(s.mapping().holdTolerance, 30.0f);
    EXPECT_EQ(s.cursor().settings().holdTolerance, 30);
    EXPECT_EQ(s.cursor().settings().holdFrames, 45);
    EXPECT_FLOAT_EQ(s.mapping().fineScaleX, 0.5f);  // Param 0 keeps the fine scale
    EXPECT_EQ(s.mapping().moveThreshold, 10);
}

// The parser alone: text in, rules, settings, log and errors out, the same
// pieces the loader prints; a rule's keys are looked up through the given
// layout.
TEST(Parser, GivesWhatTheLoaderPrintsAndApplies) {
    const Configuration c = parseConfiguration(
        "ONE_HAND_MODE MOUSE_MODE\nHAND_LEFT 1 KEY_CLICK a,VK_NOPE 0 0\nHAND_MOVE 2 MOUSE_MOVE "
        "M_MOVE 0 0.3\n",
        "g.txt", [](char c) { return static_cast<int16_t>(c == 'a' ? 'Q' : -1); });
    EXPECT_EQ(c.oneHandMode, 2);
    ASSERT_EQ(c.keyboardRules.size(), 1u);
    EXPECT_EQ(c.keyboardRules[0].key, 'Q');
    ASSERT_EQ(c.mouseRules.size(), 1u);
    EXPECT_EQ(c.mouseRules[0].threshold, 20);
    EXPECT_EQ(c.eventOfGesture[GestureId::HAND_MOVE], EventType::MOUSE_MOVE);
    std::string log;
    for (const std::string& piece : c.log) log += piece;
    EXPECT_EQ(log, std::string(kHeader) + " (ONE_HAND_MODE : MOUSE_MODE)\n" + kError +
                       " HAND_LEFT\t 1\t KEY_CLICK\t a,VK_NOPE\t 0\t 0.0\n" +
                       " HAND_MOVE\t 2\t MOUSE_MOVE\t M_MOVE\t 0\t 0.3\n");
    ASSERT_EQ(c.errors.size(), 1u);
    EXPECT_EQ(c.errors[0], "g.txt:2: not a key 'a,VK_NOPE'");

    platform::RecordingDesktop desktop{{1920, 1080}};
    EventRouter router(desktop);
    testing::internal::CaptureStdout();
    router.applyConfiguration(c, 320, 240);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kMapping320);
    EXPECT_EQ(router.oneHandMode, 2);
    EXPECT_EQ(router.keyboard().ruleCount(), 1);
    EXPECT_EQ(router.keyboard().keyCount(), 1);
    EXPECT_EQ(router.mouse().buttonCount(), 1);
    EXPECT_EQ(router.mouse().mapping().moveThreshold, 20);
}
