#include "platform/EvdevDesktop.h"

#include "platform/EvdevKeys.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

EvdevDesktop::EvdevDesktop(std::unique_ptr<EvdevSink> keyboard, std::unique_ptr<EvdevSink> pointer,
                           ScreenSize screen)
    : keyboard_(std::move(keyboard)),
      pointer_(std::move(pointer)),
      screen_(screen),
      cursor_{screen.width / 2, screen.height / 2} {}

void EvdevDesktop::sendKey(const KeyInput& input) {
    const uint16_t code = evdevKeyOf(input.vk);
    if (code == 0) return;  // pseudo keys (mode switches) reach no application
    std::lock_guard lock(mutex_);
    keyboard_->write(EV_KEY, code, (input.flags & KEYEVENTF_KEYUP) != 0 ? 0 : 1);
    keyboard_->write(EV_SYN, SYN_REPORT, 0);
}

void EvdevDesktop::sendMouse(const MouseInput& input) {
    std::lock_guard lock(mutex_);
    const uint32_t f = input.flags;
    if (f & MOUSEEVENTF_ABSOLUTE) {
        const int32_t x = std::clamp(input.dx, 0, kEvdevAbsMax);
        const int32_t y = std::clamp(input.dy, 0, kEvdevAbsMax);
        cursor_ = {normalisedToPixel(x, screen_.width), normalisedToPixel(y, screen_.height)};
        pointer_->write(EV_ABS, ABS_X, x);
        pointer_->write(EV_ABS, ABS_Y, y);
        pointer_->write(EV_SYN, SYN_REPORT, 0);
    }
    const auto button = [&](uint32_t flag, uint16_t code, int32_t down) {
        if ((f & flag) == 0) return;
        pointer_->write(EV_KEY, code, down);
        pointer_->write(EV_SYN, SYN_REPORT, 0);
    };
    button(MOUSEEVENTF_LEFTDOWN, BTN_LEFT, 1);
    button(MOUSEEVENTF_LEFTUP, BTN_LEFT, 0);
    button(MOUSEEVENTF_RIGHTDOWN, BTN_RIGHT, 1);
    button(MOUSEEVENTF_RIGHTUP, BTN_RIGHT, 0);
    button(MOUSEEVENTF_MIDDLEDOWN, BTN_MIDDLE, 1);
    button(MOUSEEVENTF_MIDDLEUP, BTN_MIDDLE, 0);
    if ((f & MOUSEEVENTF_WHEEL) && input.mouseData != 0) {
        // REL_WHEEL counts notches with the sign of the wheel data: positive
        // turns the wheel away from the user.
        const int notches = std::max(1, std::abs(input.mouseData) / WHEEL_DELTA);
        pointer_->write(EV_REL, REL_WHEEL, input.mouseData > 0 ? notches : -notches);
        pointer_->write(EV_SYN, SYN_REPORT, 0);
    }
}

ScreenPoint EvdevDesktop::cursorPos() {
    std::lock_guard lock(mutex_);
    return cursor_;
}

void EvdevDesktop::sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
