// The vocabulary's codes the emitters work with: gesture codes, event types,
// hand modes and key codes (plain enums and constants). config/Vocabulary.h
// adds the words of the configuration file and their lookups.
#pragma once

#include <cstdint>

namespace GestureId {
enum : int32_t {
    NOT_FOUND = -1,
    NONE = 0,
    NO_HAND = 1,
    ONE_HAND = 2,
    TWO_HANDS = 3,
    TWO_HANDS_PUSH = 4,
    TWO_HANDS_BACK = 5,
    TWO_HANDS_UP = 6,
    TWO_HANDS_DOWN = 7,
    TWO_HANDS_OPEN = 8,
    TWO_HANDS_CLOSE = 9,
    TURN_LEFT = 10,
    TURN_RIGHT = 11,
    LEFT_HAND_PUSH = 12,
    RIGHT_HAND_PUSH = 13,
    ONE_HAND_PUSH = 14,
    ONE_HAND_BACK = 15,
    ONE_HAND_LEFT = 16,
    ONE_HAND_RIGHT = 17,
    ONE_HAND_UP = 18,
    ONE_HAND_DOWN = 19,
    HAND_PUSH = 20,
    HAND_BACK = 21,
    HAND_LEFT = 22,
    HAND_RIGHT = 23,
    HAND_UP = 24,
    HAND_DOWN = 25,
    HAND_MOVE = 26,
    HAND_HOLD = 27,
    CIRCLE_LEFT = 28,
    CIRCLE_RIGHT = 29,
};
inline constexpr int32_t kCapacity = 50;  // codes 0..49; 30..49 unnamed
}  // namespace GestureId

namespace EventType {
enum : int32_t {
    NOT_FOUND = -1,
    NONE = 0,
    KEY_CLICK = 1,
    KEY_MULTI_CLICK = 2,
    KEY_HOLD = 3,
    KEY_TOGGLE = 4,
    MOUSE_CLICK = 101,
    MOUSE_DOUBLE_CLICK = 102,
    MOUSE_MULTI_CLICK = 103,
    MOUSE_HOLD = 104,
    MOUSE_TOGGLE = 105,
    MOUSE_MOVE = 106,
    MOUSEW_CLICK = 107,
    MOUSEW_DCLICK = 108,
    MOUSEW_TOGGLE = 109,
};
inline constexpr int32_t kCapacity = 20;
// 0 no event, 1..100 keyboard, above 100 mouse.
inline constexpr bool isKeyboard(int32_t type) {
    return type >= 1 && type <= 100;
}
inline constexpr bool isMouse(int32_t type) {
    return type > 100;
}
}  // namespace EventType

namespace InputMode {
enum : int32_t { INVALID = -1, KEYBOARD_MODE = 1, MOUSE_MODE = 2 };
}

namespace KeyCode {
enum : uint8_t {
    NO_KEY = 0,
    VK_BACK = 8,
    VK_TAB = 9,
    VK_RETURN = 13,
    VK_SHIFT = 16,
    VK_CONTROL = 17,
    VK_MENU = 18,
    VK_ESCAPE = 27,
    VK_SPACE = 32,
    VK_END = 35,
    VK_HOME = 36,
    VK_LEFT = 37,
    VK_UP = 38,
    VK_RIGHT = 39,
    VK_DOWN = 40,
    VK_INSERT = 45,
    VK_DELETE = 46,
    VK_LWIN = 91,
    VK_RWIN = 92,
    VK_ADD = 107,
    VK_SUBTRACT = 109,
    VK_F1 = 112,
    VK_F12 = 123,
    VK_LSHIFT = 160,
    VK_RSHIFT = 161,
    VK_LCONTROL = 162,
    VK_RCONTROL = 163,
    VK_LMENU = 164,
    VK_RMENU = 165,
    M_MOVE = 101,
    M_LBUTTON = 102,
    M_RBUTTON = 103,
    M_MBUTTON = 104,
    M_WHEEL = 105,
    M_NOMOVE = 200,
    TOGGLE_MODE = 240,
    CHANGE_MODE = 241,
    NOT_A_KEY = 255,
};
}  // namespace KeyCode
