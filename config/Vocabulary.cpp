#include "config/Vocabulary.h"

#include <cstring>

#include "platform/Desktop.h"

namespace {

const char* const kGestureNames[GestureId::kCapacity] = {
    "NONE",           "NO_HAND",       "ONE_HAND",       "TWO_HANDS",       "TWO_HANDS_PUSH",
    "TWO_HANDS_BACK", "TWO_HANDS_UP",  "TWO_HANDS_DOWN", "TWO_HANDS_OPEN",  "TWO_HANDS_CLOSE",
    "TURN_LEFT",      "TURN_RIGHT",    "LEFT_HAND_PUSH", "RIGHT_HAND_PUSH", "ONE_HAND_PUSH",
    "ONE_HAND_BACK",  "ONE_HAND_LEFT", "ONE_HAND_RIGHT", "ONE_HAND_UP",     "ONE_HAND_DOWN",
    "HAND_PUSH",      "HAND_BACK",     "HAND_LEFT",      "HAND_RIGHT",      "HAND_UP",
    "HAND_DOWN",      "HAND_MOVE",     "HAND_HOLD",      "CIRCLE_LEFT",     "CIRCLE_RIGHT",
};

const char* const kEventTypeNames[EventType::kCapacity] = {
    "NONE",        "KEY_CLICK",          "KEY_MULTI_CLICK",   "KEY_HOLD",      "KEY_TOGGLE",
    "MOUSE_CLICK", "MOUSE_DOUBLE_CLICK", "MOUSE_MULTI_CLICK", "MOUSE_HOLD",    "MOUSE_TOGGLE",
    "MOUSE_MOVE",  "MOUSEW_CLICK",       "MOUSEW_DCLICK",     "MOUSEW_TOGGLE",
};

struct KeyWord {
    const char* word;
    uint8_t code;
};

const KeyWord kKeyWords[] = {
    {"VK_UP", 38},        {"VK_DOWN", 40},
    {"VK_LEFT", 37},      {"VK_RIGHT", 39},
    {"VK_CONTROL", 17},   {"VK_LCONTROL", 162},
    {"VK_RCONTROL", 163}, {"VK_RETURN", 13},
    {"VK_ESCAPE", 27},    {"VK_SPACE", 32},
    {"VK_SHIFT", 16},     {"VK_LSHIFT", 160},
    {"VK_RSHIFT", 161},   {"VK_BACK", 8},
    {"VK_TAB", 9},        {"VK_END", 35},
    {"VK_HOME", 36},      {"VK_INSERT", 45},
    {"VK_DELETE", 46},    {"VK_LWIN", 91},
    {"VK_RWIN", 92},      {"0", 0},
    {"VK_F1", 112},       {"VK_F2", 113},
    {"VK_F3", 114},       {"VK_F4", 115},
    {"VK_F5", 116},       {"VK_F6", 117},
    {"VK_F7", 118},       {"VK_F8", 119},
    {"VK_F9", 120},       {"VK_F10", 121},
    {"VK_F11", 122},      {"VK_F12", 123},
    {"VK_ADD", 107},      {"VK_SUBTRACT", 109},
    {"M_MOVE", 101},      {"M_LBUTTON", 102},
    {"M_RBUTTON", 103},   {"M_MBUTTON", 104},
    {"M_WHEEL", 105},     {"M_NOMOVE", 200},
    {"TOGGLE_MODE", 240}, {"CHANGE_MODE", 241},
};

}  // namespace

int32_t lookupGesture(const char* word) {
    for (int32_t code = 1; code < GestureId::kCapacity; ++code) {
        if (kGestureNames[code] != nullptr && std::strcmp(kGestureNames[code], word) == 0) {
            return code;
        }
    }
    return GestureId::NOT_FOUND;
}

const char* gestureName(int32_t code) {
    if (code < 0 || code >= GestureId::kCapacity || kGestureNames[code] == nullptr) return "";
    return kGestureNames[code];
}

int32_t lookupEventTypeIndex(const char* word) {
    for (int32_t index = 1; index < EventType::kCapacity; ++index) {
        if (kEventTypeNames[index] != nullptr && std::strcmp(kEventTypeNames[index], word) == 0) {
            return index;
        }
    }
    return EventType::NOT_FOUND;
}

int32_t lookupEventType(const char* word) {
    const int32_t index = lookupEventTypeIndex(word);
    if (index >= 5) return index + 96;
    return index;
}

uint8_t lookupKeyCode(const char* word, platform::Desktop& desktop) {
    return lookupKeyCode(word, KeyScan([&desktop](char c) { return desktop.keyScan(c); }));
}

uint8_t lookupKeyCode(const char* word, const KeyScan& keyScan) {
    for (const auto& k : kKeyWords) {
        if (std::strcmp(k.word, word) == 0) return k.code;
    }
    if (word[0] != '\0' && word[1] == '\0') {
        // The character widened as a signed byte; the shift state is dropped.
        const auto scan = static_cast<uint16_t>(keyScan(word[0]));
        return static_cast<uint8_t>(scan & 0xFF);
    }
    return KeyCode::NOT_A_KEY;
}

int32_t lookupInputMode(const char* word) {
    if (std::strcmp(word, "KEYBOARD_MODE") == 0) return InputMode::KEYBOARD_MODE;
    if (std::strcmp(word, "MOUSE_MODE") == 0) return InputMode::MOUSE_MODE;
    return InputMode::INVALID;
}
