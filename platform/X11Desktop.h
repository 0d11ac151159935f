// The X11 Desktop: key, button, wheel and absolute-move events through the
// XTest extension, the pointer and the screen size from the X server.
//
// Held keys: the X server repeats a key that stays down (autorepeat), while a
// key pressed by the program is meant to stay down as a single press, as a
// physical key held by a game controller would. So while the program holds a
// key down, autorepeat is switched off for that key, and switched back on
// (if it was on) when the program releases it.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Desktop.h"

namespace platform {

class X11Desktop final : public Desktop {
  public:
    // Opens a connection to the display (nullptr: $DISPLAY). Returns null and
    // fills `error` when the display or the XTest extension is missing. With
    // `guard`, also starts the crash guard (platform/ReleaseGuard.h), which
    // releases what the program holds if it dies; a guard that cannot start
    // is reported on standard error and the program goes on without it.
    static std::unique_ptr<X11Desktop> open(const char* displayName, std::string& error,
                                            bool guard = true);
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    void sendKey(const KeyInput& input) override;
    void sendMouse(const MouseInput& input) override;
    ScreenPoint cursorPos() override;
    ScreenSize screenSize() override;
    void sleepMs(int milliseconds) override;

    // The X keysym a virtual-key code stands for (0 when none).
    static unsigned long keysymOf(unsigned vk);

  private:
    struct Impl;
    explicit X11Desktop(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Makes the loss of any X connection of the process end it with a clear
// message and exit code 1, instead of Xlib's own exit.
void installConnectionLossHandler();

// The screen size of the default display, or `fallback` when none is reachable.
ScreenSize displayScreenSize(ScreenSize fallback);

}  // namespace platform
