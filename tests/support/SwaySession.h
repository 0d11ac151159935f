// A private headless sway for end-to-end tests of the Wayland backend, with
// XWayland for X11 programs. Sway refuses to run as root, so as root the
// compositor and every client run as an unprivileged user made for the
// tests (tolvane-test). `ok()` is false, with `error()` saying why, where
// any of that is impossible.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

class SwaySession {
  public:
    SwaySession(int width, int height);
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // The compositor's socket as an absolute path (a WAYLAND_DISPLAY value).
    const std::string& socket() const { return socket_; }
    // XWayland's display (":N"), started on first use.
    std::string xDisplay();

    // Starts `argv` as the session's user with the session's environment.
    std::unique_ptr<ChildProcess> run(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& env = {}) const;
    // Runs swaymsg with `command`; true when sway says it succeeded.
    bool message(const std::string& command) const;
    // Makes `path` readable by the session's user.
    void share(const std::string& path) const;

  private:
    std::vector<std::string> asUser(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& env) const;

    std::string error_;
    std::string dir_;
    std::string socket_;
    std::string swaySocket_;
    std::string xDisplay_;
    bool asOther_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::unique_ptr<ChildProcess> sway_;
};

// wev, the native Wayland client that prints what it receives, focused.
class WevClient {
  public:
    explicit WevClient(const SwaySession& session);
    bool ok() const { return process_ && ok_; }

    struct Event {
        enum class Type { Key, Button, Motion, Enter, Axis } type;
        std::string name;  // key: the keysym's name ("Right"); button: "left"
        bool pressed = false;
        double x = 0;  // motion, enter: surface coordinates; axis: the value
        double y = 0;
    };
    // The events received so far, waiting up to `timeoutMs` for `until`
    // to appear in the output first.
    std::vector<Event> events(const std::string& until = "", int timeoutMs = 0);
    // Everything wev printed, for failure messages.
    const std::string& output() const { return process_->output(); }
    // Waits until `text` appears at or after offset `from` of the output.
    bool waitFor(const std::string& text, size_t from, int timeoutMs) {
        return process_->waitForOutput(text, timeoutMs, from);
    }

  private:
    std::unique_ptr<ChildProcess> process_;
    bool ok_ = false;
};
