// The guard's X11 side: releases what the program still held through XTest.
#include "platform/ReleaseGuard.h"

#include "platform/X11Display.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace platform {

int runReleaseGuard(int fd, const char* displayName) {
    // Connected before the program can die, so that the server is reachable
    // for as long as the program was.
    const DisplayPtr owned(
        XOpenDisplay(displayName != nullptr && *displayName ? displayName : nullptr));
    Display* display = owned.get();
    const HeldInput held = readUntilClosed(fd);
    if (display == nullptr) return 1;
    for (unsigned code = 0; code < held.keyDown.size(); ++code) {
        if (!held.keyDown[code]) continue;
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        if (held.restoreRepeat[code]) {
            XKeyboardControl control{};
            control.key = static_cast<int>(code);
            control.auto_repeat_mode = AutoRepeatModeOn;
            XChangeKeyboardControl(display, KBKey | KBAutoRepeatMode, &control);
        }
    }
    for (unsigned b = 1; b < held.buttonDown.size(); ++b) {
        if (held.buttonDown[b]) XTestFakeButtonEvent(display, b, False, CurrentTime);
    }
    XSync(display, False);
    return 0;
}

}  // namespace platform
