// A Desktop that speaks the kernel's input-event language: key events as
// evdev key codes by US positions, buttons, wheel notches and absolute moves
// over 0..65535 (the normalised coordinates themselves), each group ended by
// a sync report. The events go to two sinks, a keyboard and a pointer; the
// uinput backend (platform/UinputDesktop.h) makes them kernel devices.
//
// No device can be asked where the pointer is, so the cursor position is the
// one this backend last set, starting at the centre of the screen.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Desktop.h"

namespace platform {

class EvdevSink {
  public:
    virtual ~EvdevSink() = default;
    // Writes one input event (type, code, value as in struct input_event).
    virtual void write(uint16_t type, uint16_t code, int32_t value) = 0;
};

// The extent of the absolute pointer's axes.
inline constexpr int32_t kEvdevAbsMax = 65535;

class EvdevDesktop final : public Desktop {
  public:
    EvdevDesktop(std::unique_ptr<EvdevSink> keyboard, std::unique_ptr<EvdevSink> pointer,
                 ScreenSize screen);

    void sendKey(const KeyInput& input) override;
    void sendMouse(const MouseInput& input) override;
    ScreenPoint cursorPos() override;
    ScreenSize screenSize() override { return screen_; }
    void sleepMs(int milliseconds) override;

  private:
    const std::unique_ptr<EvdevSink> keyboard_;
    const std::unique_ptr<EvdevSink> pointer_;
    const ScreenSize screen_;
    std::mutex mutex_;
    ScreenPoint cursor_;
};

}  // namespace platform
