// The real backends behind "-input": whichever of them this build has.
#include "app/InputChoice.h"

#include <cstdlib>

#include "platform/X11Desktop.h"
#ifdef TOLVANE_HAVE_WAYLAND
#include "platform/WaylandDesktop.h"
#endif
#ifdef TOLVANE_HAVE_UINPUT
#include "platform/UinputDesktop.h"
#endif

namespace {

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

InputOpeners systemInputOpeners() {
    InputOpeners o;
    o.waylandSession = set("WAYLAND_DISPLAY");
    const bool waylandSession = o.waylandSession;
    o.wayland = [](std::string& description,
                   std::string& error) -> std::unique_ptr<platform::Desktop> {
#ifdef TOLVANE_HAVE_WAYLAND
        auto desktop = platform::WaylandDesktop::open(nullptr, error);
        if (desktop) {
            description = "Wayland virtual keyboard and pointer (" + desktop->compositor() + ")";
        }
        return desktop;
#else
        (void)description;
        error = "this build of tolvane has no Wayland backend";
        return nullptr;
#endif
    };
    o.uinput = [waylandSession](std::string& description,
                                std::string& error) -> std::unique_ptr<platform::Desktop> {
#ifdef TOLVANE_HAVE_UINPUT
        constexpr platform::ScreenSize kFallbackScreen{1920, 1080};
        platform::ScreenSize screen = kFallbackScreen;
#ifdef TOLVANE_HAVE_WAYLAND
        if (waylandSession) screen = platform::waylandScreenSize(kFallbackScreen);
#endif
        if (!waylandSession) screen = platform::displayScreenSize(kFallbackScreen);
        auto desktop = platform::openUinputDesktop(screen, error);
        if (desktop) description = "uinput virtual keyboard and pointer (/dev/uinput)";
        return desktop;
#else
        (void)waylandSession;
        (void)description;
        error = "this build of tolvane has no uinput backend";
        return nullptr;
#endif
    };
    o.x11 = [waylandSession](std::string& description,
                             std::string& error) -> std::unique_ptr<platform::Desktop> {
        auto desktop = platform::X11Desktop::open(nullptr, error);
        if (desktop) {
            const char* display = std::getenv("DISPLAY");
            description = std::string(waylandSession ? "XTest through XWayland" : "XTest") +
                          " (X display " + (display != nullptr ? display : "") + ")";
        }
        return desktop;
    };
    return o;
}
