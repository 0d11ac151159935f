// The operating-system boundary of Tolvane's input side: every key event,
// mouse event, absolute cursor move, cursor and screen query and the
// character-to-key lookup goes through a Desktop. Records carry exactly the
// values a Windows INPUT record would hold, so every backend (XTest, Wayland,
// uinput, recording) sees the same numbers and tests can assert them.
#pragma once

#include <cstdint>

namespace platform {

// Keyboard record (KEYBDINPUT).
struct KeyInput {
    uint16_t vk = 0;     // virtual-key code
    uint16_t scan = 0;   // scan code
    uint32_t flags = 0;  // 0 = key-down, KEYEVENTF_KEYUP = key-up
    uint32_t time = 0;
    uintptr_t extraInfo = 0;
    bool operator==(const KeyInput&) const = default;
};

// Mouse record (MOUSEINPUT).
struct MouseInput {
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t mouseData = 0;
    uint32_t flags = 0;
    uint32_t time = 0;
    uintptr_t extraInfo = 0;
    bool operator==(const MouseInput&) const = default;
};

inline constexpr uint32_t KEYEVENTF_KEYUP = 0x0002;

inline constexpr uint32_t MOUSEEVENTF_MOVE = 0x0001;
inline constexpr uint32_t MOUSEEVENTF_LEFTDOWN = 0x0002;
inline constexpr uint32_t MOUSEEVENTF_LEFTUP = 0x0004;
inline constexpr uint32_t MOUSEEVENTF_RIGHTDOWN = 0x0008;
inline constexpr uint32_t MOUSEEVENTF_RIGHTUP = 0x0010;
inline constexpr uint32_t MOUSEEVENTF_MIDDLEDOWN = 0x0020;
inline constexpr uint32_t MOUSEEVENTF_MIDDLEUP = 0x0040;
inline constexpr uint32_t MOUSEEVENTF_WHEEL = 0x0800;
inline constexpr uint32_t MOUSEEVENTF_VIRTUALDESK = 0x4000;
inline constexpr uint32_t MOUSEEVENTF_ABSOLUTE = 0x8000;
inline constexpr int32_t WHEEL_DELTA = 120;

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
};

struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The virtual key and shift state that type a character on a US keyboard:
// low byte the virtual key, high byte the shift state (1 = Shift), or -1
// when no key produces the character.
int16_t usKeyScan(char c);

class Desktop {
  public:
    virtual ~Desktop() = default;

    // Sends one key event. Main thread.
    virtual void sendKey(const KeyInput& input) = 0;
    // Sends one mouse event: a button, a wheel notch or an absolute move
    // (dx, dy normalised to 0..65535 over the screen). Absolute moves come
    // from the cursor worker thread, so backends make this thread-safe.
    virtual void sendMouse(const MouseInput& input) = 0;
    // The cursor position in screen pixels.
    virtual ScreenPoint cursorPos() = 0;
    // The primary screen's size in pixels.
    virtual ScreenSize screenSize() = 0;
    // The extra-info value attached to button events.
    virtual uintptr_t messageExtraInfo() { return 0; }
    // Character-to-key lookup: the virtual key (low byte) and shift state
    // (high byte) that type `c`, or -1. The default is the US layout.
    virtual int16_t keyScan(char c);
    // Blocks the calling thread; recording backends only count the time.
    virtual void sleepMs(int milliseconds) = 0;
};

inline int16_t Desktop::keyScan(char c) {
    return usKeyScan(c);
}

// Turns an absolute move's normalised coordinate (0..65535 over the screen)
// back into a screen pixel, rounding to the nearest and keeping it on screen.
inline int32_t normalisedToPixel(int32_t normalised, int32_t size) {
    if (size <= 0) return 0;
    const int64_t pixel = (static_cast<int64_t>(normalised) * size + 32767) / 65535;
    if (pixel < 0) return 0;
    if (pixel > size - 1) return size - 1;
    return static_cast<int32_t>(pixel);
}

}  // namespace platform
