// The uinput Desktop: a virtual keyboard and an absolute pointer made through
// the kernel's /dev/uinput with libevdev. The desktop sees them as real
// devices, so this works under every compositor, under X11 and on the
// console; it needs write access to /dev/uinput (the udev rule installed
// with the program gives it to the logged-in user).
//
// Nothing stays held when the program dies: the kernel removes the devices
// when their file closes and, removing them, releases every key and button
// they held.
#pragma once

#include <memory>
#include <string>

#include "platform/EvdevDesktop.h"

namespace platform {

inline constexpr const char* kUinputPath = "/dev/uinput";

// Creates the two devices through `path`. Returns null and fills `error`
// ("/dev/uinput: Permission denied") when they cannot be made.
std::unique_ptr<EvdevDesktop> openUinputDesktop(ScreenSize screen, std::string& error,
                                                const char* path = kUinputPath);

}  // namespace platform
