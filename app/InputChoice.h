// Which Desktop sends the program's input ("-input auto|x11|wayland|uinput"):
// the rules of the choice, apart from the backends themselves so that each
// branch can be tried with stand-ins.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Desktop.h"

enum class InputBackend { Auto, X11, Wayland, Uinput };

// "auto", "x11", "wayland" or "uinput"; false for any other word.
bool parseInputBackend(const std::string& word, InputBackend& backend);

// One backend's opener: the Desktop and the words that describe it for the
// start-up log ("Wayland virtual keyboard and pointer (sway)"), or null with
// `error` saying why it cannot start.
using DesktopOpener =
    std::function<std::unique_ptr<platform::Desktop>(std::string& description, std::string& error)>;

struct InputOpeners {
    bool waylandSession = false;  // $WAYLAND_DISPLAY names a compositor
    DesktopOpener wayland;
    DesktopOpener uinput;
    DesktopOpener x11;
};

struct InputChoice {
    std::unique_ptr<platform::Desktop> desktop;  // null: the program must not start
    std::string logLine;                         // "Input: ...\n"
    std::string warning;                         // for standard error, when not empty
    std::string error;                           // why nothing could start
};

// Under a Wayland session "auto" takes the Wayland backend, else uinput,
// else XTest through XWayland with a warning; without one, XTest. A backend
// asked for by name is the only one tried.
InputChoice chooseInput(InputBackend wanted, const InputOpeners& open);

// The openers of the real backends, for this process's environment.
InputOpeners systemInputOpeners();
