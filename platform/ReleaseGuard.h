// The crash guard: a small process (tolvane-guard) with its own X connection
// that learns from the program which keys and buttons it holds down, and
// releases them if the program ends without doing so itself: killed, crashed,
// or gone without its teardown. A signal handler inside a crashed process
// cannot safely talk to the X server; a separate process can.
//
// The program tells the guard every press and release over a socket. When the
// socket closes (the program exited, however it ended), the guard releases
// what is still marked down, gives autorepeat back to those keys, and exits.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace platform {

class ReleaseGuard {
  public:
    // Starts tolvane-guard from the folder of the running program for the
    // display `displayName` (null: $DISPLAY). Returns null, with `error`
    // filled, when it cannot be started.
    static std::unique_ptr<ReleaseGuard> start(const char* displayName, std::string& error);
    // Closes the socket and gives the guard a moment to finish.
    ~ReleaseGuard();
    ReleaseGuard(const ReleaseGuard&) = delete;
    ReleaseGuard& operator=(const ReleaseGuard&) = delete;

    // An X keycode went down (restoreRepeat: autorepeat was on for it and the
    // program switched it off) or came up.
    void key(unsigned keycode, bool down, bool restoreRepeat);
    // An X pointer button (1 to 3) went down or came up.
    void button(unsigned number, bool down);

    pid_t pid() const { return pid_; }

  private:
    ReleaseGuard(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
    void send(char type, unsigned code, bool down, bool flag);

    int fd_;
    pid_t pid_;
};

// The guard's own main loop (tolvane-guard): reads the program's messages on
// `fd` until it closes, then releases what is still down on `displayName`.
int runReleaseGuard(int fd, const char* displayName);

}  // namespace platform
