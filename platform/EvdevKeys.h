// Virtual-key codes as evdev key codes: the physical key at the same place
// on a US keyboard (the positions usKeyScan assumes). The Wayland backend
// sends these codes with a US keymap; the uinput backend sends them to the
// kernel, where the desktop's own layout applies.
#pragma once

#include <cstdint>

namespace platform {

// The evdev key code of a virtual-key code, or 0 when it names no key.
uint16_t evdevKeyOf(unsigned vk);

}  // namespace platform
