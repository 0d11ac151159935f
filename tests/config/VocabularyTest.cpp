#include "config/Vocabulary.h"

#include <gtest/gtest.h>

#include "platform/RecordingDesktop.h"

TEST(Vocabulary, GestureNamesAreFoundExactlyAndNoneNever) {
    EXPECT_EQ(lookupGesture("NO_HAND"), 1);
    EXPECT_EQ(lookupGesture("HAND_MOVE"), 26);
    EXPECT_EQ(lookupGesture("HAND_HOLD"), 27);
    EXPECT_EQ(lookupGesture("CIRCLE_RIGHT"), 29);
    EXPECT_EQ(lookupGesture("NONE"), -1);
    EXPECT_EQ(lookupGesture("hand_push"), -1);
    EXPECT_EQ(lookupGesture("HAND_PUSH "), -1);
    EXPECT_EQ(lookupGesture(""), -1);
}

TEST(Vocabulary, EventTypesMapKeyboardToIndexAndMouseToIndexPlus96) {
    EXPECT_EQ(lookupEventType("KEY_CLICK"), 1);
    EXPECT_EQ(lookupEventType("KEY_TOGGLE"), 4);
    EXPECT_EQ(lookupEventType("MOUSE_CLICK"), 101);
    EXPECT_EQ(lookupEventType("MOUSE_MOVE"), 106);
    EXPECT_EQ(lookupEventType("MOUSEW_TOGGLE"), 109);
    EXPECT_EQ(lookupEventType("NONE"), -1);
    EXPECT_EQ(lookupEventType("KEY_click"), -1);
}

TEST(Vocabulary, KeyWordsCharactersAndNonKeys) {
    platform::RecordingDesktop desktop;
    EXPECT_EQ(lookupKeyCode("VK_UP", desktop), 38);
    EXPECT_EQ(lookupKeyCode("VK_F12", desktop), 123);
    EXPECT_EQ(lookupKeyCode("M_NOMOVE", desktop), 200);
    EXPECT_EQ(lookupKeyCode("TOGGLE_MODE", desktop), 240);
    EXPECT_EQ(lookupKeyCode("0", desktop), 0);
    EXPECT_EQ(lookupKeyCode("vk_up", desktop), 255);
    EXPECT_EQ(lookupKeyCode("VK_NOPE", desktop), 255);
    // One character: its key without the shift state.
    EXPECT_EQ(lookupKeyCode("a", desktop), 65);
    EXPECT_EQ(lookupKeyCode("A", desktop), 65);
    EXPECT_EQ(lookupKeyCode("7", desktop), 55);
    EXPECT_EQ(lookupKeyCode("&", desktop), 55);
    EXPECT_EQ(lookupKeyCode(";", desktop), 0xBA);
    EXPECT_EQ(lookupKeyCode("?", desktop), 0xBF);
    EXPECT_EQ(lookupKeyCode("\"", desktop), 0xDE);
    // No US key types these.
    EXPECT_EQ(lookupKeyCode("\xE9", desktop), 255);
    EXPECT_EQ(lookupKeyCode("\x01", desktop), 255);
}

TEST(Vocabulary, ModeWords) {
    EXPECT_EQ(lookupInputMode("KEYBOARD_MODE"), 1);
    EXPECT_EQ(lookupInputMode("MOUSE_MODE"), 2);
    EXPECT_EQ(lookupInputMode("mouse_mode"), -1);
}
