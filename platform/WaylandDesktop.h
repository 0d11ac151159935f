// The Wayland Desktop: keys through the compositor's virtual-keyboard
// protocol (zwp_virtual_keyboard_manager_v1) with a US keymap built by
// xkbcommon, buttons, the wheel and absolute moves through the wlroots
// virtual-pointer protocol (zwlr_virtual_pointer_manager_v1), the screen
// size from the compositor's first output.
//
// Wayland lets no client read the pointer, so the cursor position is the
// one this backend last set, starting at the centre of the screen.
//
// Nothing stays held when the program dies: the crash guard
// (platform/ReleaseGuard.h) releases on the program's own devices what they
// still held.
#pragma once

#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace platform {

class WaylandDesktop final : public Desktop {
  public:
    // Connects to the compositor (nullptr: $WAYLAND_DISPLAY) and creates a
    // virtual keyboard and pointer. Returns null and fills `error` when there
    // is no compositor, it lacks one of the two protocols or refuses them.
    // With `guard`, also starts the crash guard; a guard that cannot start is
    // reported on standard error and the program goes on without it.
    static std::unique_ptr<WaylandDesktop> open(const char* displayName, std::string& error,
                                                bool guard = true);
    ~WaylandDesktop() override;
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    void sendKey(const KeyInput& input) override;
    void sendMouse(const MouseInput& input) override;
    ScreenPoint cursorPos() override;
    ScreenSize screenSize() override;
    void sleepMs(int milliseconds) override;

    // The compositor's process name ("sway"), or "compositor" when unknown.
    const std::string& compositor() const;

  private:
    struct Impl;
    explicit WaylandDesktop(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The keymap the backend uploads, as xkbcommon keymap source: a US layout
// that types what usKeyScan and the key table say ("" when the system has no
// keyboard descriptions for xkbcommon).
std::string waylandKeymap();

// The size of the compositor's first output, or `fallback` when no
// compositor is reachable (for backends that cannot ask by themselves).
ScreenSize waylandScreenSize(ScreenSize fallback);

}  // namespace platform
