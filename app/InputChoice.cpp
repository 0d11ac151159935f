#include "app/InputChoice.h"

namespace {

constexpr const char* kSeeReadme = " — see README, Wayland";

InputChoice chosen(std::unique_ptr<platform::Desktop> desktop, const std::string& description) {
    InputChoice c;
    c.desktop = std::move(desktop);
    c.logLine = "Input: " + description + "\n";
    return c;
}

InputChoice refused(const std::string& error) {
    InputChoice c;
    c.error = error;
    return c;
}

}  // namespace

bool parseInputBackend(const std::string& word, InputBackend& backend) {
    if (word == "auto") {
        backend = InputBackend::Auto;
    } else if (word == "x11") {
        backend = InputBackend::X11;
    } else if (word == "wayland") {
        backend = InputBackend::Wayland;
    } else if (word == "uinput") {
        backend = InputBackend::Uinput;
    } else {
        return false;
    }
    return true;
}

InputChoice chooseInput(InputBackend wanted, const InputOpeners& open) {
    std::string description;
    std::string x11Error;
    const auto x11Refused = [&] {
        // Without any display nothing can run, -dry-run included: the
        // display window needs one too.
        return refused(x11Error +
                       "; Tolvane needs an X11 display (or XWayland) for its windows and "
                       "input: run it in a desktop session, or under Xvfb to try it");
    };
    switch (wanted) {
        case InputBackend::Wayland:
        case InputBackend::Uinput: {
            std::string error;
            const DesktopOpener& opener =
                wanted == InputBackend::Wayland ? open.wayland : open.uinput;
            auto desktop = opener(description, error);
            if (!desktop) return refused(error + kSeeReadme);
            return chosen(std::move(desktop), description);
        }
        case InputBackend::X11: {
            auto desktop = open.x11(description, x11Error);
            if (!desktop) return x11Refused();
            return chosen(std::move(desktop), description);
        }
        case InputBackend::Auto:
            break;
    }
    if (!open.waylandSession) {
        auto desktop = open.x11(description, x11Error);
        if (!desktop) return x11Refused();
        return chosen(std::move(desktop), description);
    }
    std::string waylandError;
    if (auto desktop = open.wayland(description, waylandError)) {
        return chosen(std::move(desktop), description);
    }
    std::string uinputError;
    if (auto desktop = open.uinput(description, uinputError)) {
        return chosen(std::move(desktop), description);
    }
    auto desktop = open.x11(description, x11Error);
    if (!desktop) {
        return refused("no way to send input: " + waylandError + "; " + uinputError + "; " +
                       x11Error + kSeeReadme);
    }
    InputChoice c = chosen(std::move(desktop), description);
    c.warning = "warning: " + waylandError + ", and " + uinputError +
                ". Input goes to XWayland: X11 applications receive it while they have the "
                "focus, native Wayland applications receive nothing, and the desktop's pointer "
                "does not follow. For input everywhere give your user write access to "
                "/dev/uinput (see README, Wayland)";
    return c;
}
