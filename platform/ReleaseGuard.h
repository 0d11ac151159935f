// The crash guard: a small process (tolvane-guard) with its own X connection
// that learns from the program which keys and buttons it holds down, and
// releases them if the program ends without doing so itself: killed, crashed,
// or gone without its teardown. A signal handler inside a crashed process
// cannot safely talk to the X server; a separate process can.
//
// The program tells the guard every press and release over a socket. When the
// socket closes (the program exited, however it ended), the guard releases
// what is still marked down, gives autorepeat back to those keys, and exits.
//
// Under Wayland the guard holds a duplicate of the program's connection to
// the compositor, so the connection outlives the program: the guard then
// sends the releases on the program's own virtual keyboard and pointer, as
// the program would have, and closes the connection, which removes them.
// (Sway releases the keys of a virtual keyboard whose client dies, but not
// the buttons of a virtual pointer: its seat stays in a press.)
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class ReleaseGuard {
  public:
    // Starts tolvane-guard from the folder of the running program for the
    // display `displayName` (null: $DISPLAY). Returns null, with `error`
    // filled, when it cannot be started.
    static std::unique_ptr<ReleaseGuard> start(const char* displayName, std::string& error);
    // Starts it for a Wayland connection: `connectionFd` is the program's
    // socket to the compositor, the ids those of its virtual keyboard and
    // pointer objects.
    static std::unique_ptr<ReleaseGuard> startWayland(int connectionFd, uint32_t keyboardId,
                                                      uint32_t pointerId, std::string& error);
    // Closes the socket and gives the guard a moment to finish.
    ~ReleaseGuard();
    ReleaseGuard(const ReleaseGuard&) = delete;
    ReleaseGuard& operator=(const ReleaseGuard&) = delete;

    // A key went down (restoreRepeat: autorepeat was on for it and the
    // program switched it off) or came up: an X keycode, or under Wayland an
    // evdev key code.
    void key(unsigned keycode, bool down, bool restoreRepeat = false);
    // A pointer button (1 left, 2 middle, 3 right, as X numbers them) went
    // down or came up.
    void button(unsigned number, bool down);

    pid_t pid() const { return pid_; }

  private:
    ReleaseGuard(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
    static std::unique_ptr<ReleaseGuard> launch(const char* const* arguments, int inheritFd,
                                                std::string& error);
    void send(char type, unsigned code, bool down, bool flag);

    int fd_;
    pid_t pid_;
};

// What the program holds down, as the guard learns it.
struct HeldInput {
    std::array<bool, 256> keyDown{};
    std::array<bool, 256> restoreRepeat{};
    std::array<bool, 8> buttonDown{};
};

// Reads the program's messages on `fd` until it closes. Ignores the signals
// meant for the program's process group (Ctrl-C in its terminal), which must
// not end the guard before the program has released what it holds.
HeldInput readUntilClosed(int fd);

// The guard's own main loop (tolvane-guard): reads the program's messages on
// `fd` until it closes, then releases what is still down on `displayName`.
int runReleaseGuard(int fd, const char* displayName);

// The same under Wayland: releases what is still down through the objects
// `keyboardId` and `pointerId` of the connection `connectionFd`, then closes it.
int runWaylandReleaseGuard(int fd, int connectionFd, uint32_t keyboardId, uint32_t pointerId);

// The wire requests the Wayland guard writes: their opcodes in the
// zwp_virtual_keyboard_v1 and zwlr_virtual_pointer_v1 interfaces.
inline constexpr uint16_t kWireKeyOpcode = 1;
inline constexpr uint16_t kWireModifiersOpcode = 2;
inline constexpr uint16_t kWireButtonOpcode = 2;
inline constexpr uint16_t kWireFrameOpcode = 4;
// The fd number the Wayland connection has in the guard.
inline constexpr int kGuardConnectionFd = 3;

}  // namespace platform
