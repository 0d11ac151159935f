#include "platform/ReleaseGuard.h"

#include "platform/X11Display.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace platform {
namespace {

// One message: type ('K' key, 'B' button), code, down (0/1), flag (0/1).
constexpr size_t kMessage = 4;

std::string guardPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';
    std::string path(self);
    const size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + "tolvane-guard";
}

}  // namespace

std::unique_ptr<ReleaseGuard> ReleaseGuard::start(const char* displayName, std::string& error) {
    const std::string path = guardPath();
    if (path.empty() || access(path.c_str(), X_OK) != 0) {
        error = "no " + (path.empty() ? std::string("tolvane-guard") : path);
        return nullptr;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string display = displayName != nullptr ? displayName : "";
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        dup2(fds[1], 0);
        const char* argv[] = {path.c_str(), display.c_str(), nullptr};
        execv(path.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        error = std::string("fork: ") + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<ReleaseGuard>(new ReleaseGuard(fds[0], pid));
}

ReleaseGuard::~ReleaseGuard() {
    close(fd_);
    // The guard exits as soon as it sees the socket close.
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) != 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void ReleaseGuard::send(char type, unsigned code, bool down, bool flag) {
    const char message[kMessage] = {type, static_cast<char>(code & 0xFF), down ? '\1' : '\0',
                                    flag ? '\1' : '\0'};
    // A guard that has gone away only means no guard; the program goes on.
    (void)::send(fd_, message, kMessage, MSG_NOSIGNAL);
}

void ReleaseGuard::key(unsigned keycode, bool down, bool restoreRepeat) {
    send('K', keycode, down, restoreRepeat);
}

void ReleaseGuard::button(unsigned number, bool down) {
    send('B', number, down, false);
}

int runReleaseGuard(int fd, const char* displayName) {
    // Signals meant for the program's process group (Ctrl-C in its terminal)
    // must not end the guard before the program has released what it holds.
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    const DisplayPtr owned(
        XOpenDisplay(displayName != nullptr && *displayName ? displayName : nullptr));
    Display* display = owned.get();
    std::array<bool, 256> keyDown{};
    std::array<bool, 256> restoreRepeat{};
    std::array<bool, 8> buttonDown{};
    unsigned char message[kMessage];
    size_t have = 0;
    for (;;) {
        const ssize_t n = read(fd, message + have, kMessage - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        if (have < kMessage) continue;
        have = 0;
        const unsigned code = message[1];
        const bool down = message[2] != 0;
        if (message[0] == 'K') {
            keyDown[code] = down;
            if (down) restoreRepeat[code] = message[3] != 0;
        } else if (message[0] == 'B' && code < buttonDown.size()) {
            buttonDown[code] = down;
        }
    }
    if (display == nullptr) return 1;
    for (unsigned code = 0; code < keyDown.size(); ++code) {
        if (!keyDown[code]) continue;
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        if (restoreRepeat[code]) {
            XKeyboardControl control{};
            control.key = static_cast<int>(code);
            control.auto_repeat_mode = AutoRepeatModeOn;
            XChangeKeyboardControl(display, KBKey | KBAutoRepeatMode, &control);
        }
    }
    for (unsigned b = 1; b < buttonDown.size(); ++b) {
        if (buttonDown[b]) XTestFakeButtonEvent(display, b, False, CurrentTime);
    }
    XSync(display, False);
    return 0;
}

}  // namespace platform
