#include "platform/EvdevKeys.h"

#include <linux/input-event-codes.h>

namespace platform {

uint16_t evdevKeyOf(unsigned vk) {
    // A..Z in alphabetical order.
    static constexpr uint16_t letters[26] = {
        KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
        KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    static constexpr uint16_t keypad[10] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                            KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    static constexpr uint16_t functions[24] = {
        KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,  KEY_F8,
        KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16,
        KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};
    if (vk >= 'A' && vk <= 'Z') return letters[vk - 'A'];
    if (vk == '0') return KEY_0;
    if (vk >= '1' && vk <= '9') return static_cast<uint16_t>(KEY_1 + (vk - '1'));
    if (vk >= 0x60 && vk <= 0x69) return keypad[vk - 0x60];
    if (vk >= 0x70 && vk <= 0x87) return functions[vk - 0x70];
    switch (vk) {
        case 0x08:
            return KEY_BACKSPACE;
        case 0x09:
            return KEY_TAB;
        case 0x0C:
            return KEY_CLEAR;
        case 0x0D:
            return KEY_ENTER;
        case 0x10:
        case 0xA0:
            return KEY_LEFTSHIFT;
        case 0x11:
        case 0xA2:
            return KEY_LEFTCTRL;
        case 0x12:
        case 0xA4:
            return KEY_LEFTALT;
        case 0x13:
            return KEY_PAUSE;
        case 0x14:
            return KEY_CAPSLOCK;
        case 0x1B:
            return KEY_ESC;
        case 0x20:
            return KEY_SPACE;
        case 0x21:
            return KEY_PAGEUP;
        case 0x22:
            return KEY_PAGEDOWN;
        case 0x23:
            return KEY_END;
        case 0x24:
            return KEY_HOME;
        case 0x25:
            return KEY_LEFT;
        case 0x26:
            return KEY_UP;
        case 0x27:
            return KEY_RIGHT;
        case 0x28:
            return KEY_DOWN;
        case 0x2C:
            return KEY_SYSRQ;  // Print Screen
        case 0x2D:
            return KEY_INSERT;
        case 0x2E:
            return KEY_DELETE;
        case 0x5B:
            return KEY_LEFTMETA;
        case 0x5C:
            return KEY_RIGHTMETA;
        case 0x5D:
            return KEY_COMPOSE;  // the Menu key
        case 0x6A:
            return KEY_KPASTERISK;
        case 0x6B:
            return KEY_KPPLUS;
        case 0x6C:
            return KEY_KPCOMMA;
        case 0x6D:
            return KEY_KPMINUS;
        case 0x6E:
            return KEY_KPDOT;
        case 0x6F:
            return KEY_KPSLASH;
        case 0x90:
            return KEY_NUMLOCK;
        case 0x91:
            return KEY_SCROLLLOCK;
        case 0xA1:
            return KEY_RIGHTSHIFT;
        case 0xA3:
            return KEY_RIGHTCTRL;
        case 0xA5:
            return KEY_RIGHTALT;
        case 0xBA:
            return KEY_SEMICOLON;
        case 0xBB:
            return KEY_EQUAL;
        case 0xBC:
            return KEY_COMMA;
        case 0xBD:
            return KEY_MINUS;
        case 0xBE:
            return KEY_DOT;
        case 0xBF:
            return KEY_SLASH;
        case 0xC0:
            return KEY_GRAVE;
        case 0xDB:
            return KEY_LEFTBRACE;
        case 0xDC:
            return KEY_BACKSLASH;
        case 0xDD:
            return KEY_RIGHTBRACE;
        case 0xDE:
            return KEY_APOSTROPHE;
        default:
            return 0;
    }
}

}  // namespace platform
