#include "platform/ReleaseGuard.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

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
    const char* arguments[] = {displayName != nullptr ? displayName : "", nullptr};
    return launch(arguments, -1, error);
}

std::unique_ptr<ReleaseGuard> ReleaseGuard::startWayland(int connectionFd, uint32_t keyboardId,
                                                         uint32_t pointerId, std::string& error) {
    const std::string keyboard = std::to_string(keyboardId);
    const std::string pointer = std::to_string(pointerId);
    const char* arguments[] = {"-wayland", keyboard.c_str(), pointer.c_str(), nullptr};
    return launch(arguments, connectionFd, error);
}

std::unique_ptr<ReleaseGuard> ReleaseGuard::launch(const char* const* arguments, int inheritFd,
                                                   std::string& error) {
    const std::string path = guardPath();
    if (path.empty() || access(path.c_str(), X_OK) != 0) {
        error = "no " + (path.empty() ? std::string("tolvane-guard") : path);
        return nullptr;
    }
    std::vector<const char*> argv{path.c_str()};
    for (const char* const* a = arguments; *a != nullptr; ++a) argv.push_back(*a);
    argv.push_back(nullptr);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        dup2(fds[1], 0);
        if (inheritFd == kGuardConnectionFd) {
            fcntl(inheritFd, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
        } else if (inheritFd >= 0) {
            dup2(inheritFd, kGuardConnectionFd);
        }
        execv(path.c_str(), const_cast<char* const*>(argv.data()));
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

HeldInput readUntilClosed(int fd) {
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    HeldInput held;
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
            held.keyDown[code] = down;
            if (down) held.restoreRepeat[code] = message[3] != 0;
        } else if (message[0] == 'B' && code < held.buttonDown.size()) {
            held.buttonDown[code] = down;
        }
    }
    return held;
}

namespace {

// Appends one request in the Wayland wire format: the object, then the size
// in bytes (upper half) and the opcode (lower half), then 32-bit arguments.
void request(std::vector<uint32_t>& out, uint32_t object, uint16_t opcode,
             std::initializer_list<uint32_t> arguments) {
    out.push_back(object);
    out.push_back(static_cast<uint32_t>((8 + 4 * arguments.size()) << 16) | opcode);
    out.insert(out.end(), arguments);
}

}  // namespace

int runWaylandReleaseGuard(int fd, int connectionFd, uint32_t keyboardId, uint32_t pointerId) {
    const HeldInput held = readUntilClosed(fd);
    // The same clock as the program's requests (milliseconds of CLOCK_MONOTONIC).
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto time = static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    std::vector<uint32_t> requests;
    for (unsigned code = 0; code < held.keyDown.size(); ++code) {
        if (held.keyDown[code]) request(requests, keyboardId, kWireKeyOpcode, {time, code, 0});
    }
    // With the keys up, no modifier is down either.
    if (!requests.empty()) request(requests, keyboardId, kWireModifiersOpcode, {0, 0, 0, 0});
    // Buttons 1, 2, 3 are BTN_LEFT, BTN_MIDDLE, BTN_RIGHT.
    static constexpr uint32_t evdevButton[4] = {0, 0x110, 0x112, 0x111};
    for (unsigned b = 1; b < 4; ++b) {
        if (!held.buttonDown[b]) continue;
        request(requests, pointerId, kWireButtonOpcode, {time, evdevButton[b], 0});
        request(requests, pointerId, kWireFrameOpcode, {});
    }
    if (requests.empty()) {
        // Nothing held (the usual end): leave the connection to the program.
        close(connectionFd);
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(requests.data());
    size_t left = requests.size() * sizeof(uint32_t);
    while (left > 0) {
        const ssize_t n = ::send(connectionFd, bytes, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the compositor has gone: nothing is held there
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    // A compositor that sees the connection hang up drops it unread: only
    // stop writing, and wait until it has read the requests and closed its
    // end (what it sends is meant for the program and goes unread).
    shutdown(connectionFd, SHUT_WR);
    char sink[4096];
    for (int waited = 0; waited < 3000; waited += 100) {
        pollfd p{connectionFd, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) continue;
        const ssize_t n = read(connectionFd, sink, sizeof sink);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
    close(connectionFd);
    return 0;
}

}  // namespace platform
