#include "tests/support/SwaySession.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kUser = "tolvane-test";

bool installed(const std::string& program) {
    return access(("/usr/bin/" + program).c_str(), X_OK) == 0;
}

// The "wayland-N" socket sway made in `dir`, or "".
std::string findSocket(const std::string& dir, const char* prefix) {
    std::string found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.find(".lock") == std::string::npos &&
            entry.is_socket()) {
            found = entry.path().string();
        }
    }
    return found;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The processes of a session: those whose environment names its runtime
// folder. (XWayland is started through a double fork: not sway's child.)
std::vector<pid_t> processesOf(const std::string& dir) {
    const std::string mark = "XDG_RUNTIME_DIR=" + dir + '\0';
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (readFile(entry.path().string() + "/environ").find(mark) != std::string::npos) {
            found.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return found;
}

// Ends what sessions of test runs that died left behind: processes whose
// runtime folder is gone.
void endOrphans() {
    const std::string mark = "XDG_RUNTIME_DIR=/tmp/tolvane-sway-";
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string environ = readFile(entry.path().string() + "/environ");
        const size_t at = environ.find(mark);
        if (at == std::string::npos) continue;
        const size_t start = at + mark.size() - std::strlen("/tmp/tolvane-sway-");
        const std::string dir = environ.substr(start, environ.find('\0', start) - start);
        if (!std::filesystem::exists(dir)) kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
    }
}

}  // namespace

SwaySession::SwaySession(int width, int height) {
    endOrphans();
    for (const char* program : {"sway", "swaymsg", "setpriv"}) {
        if (!installed(program)) {
            error_ = std::string(program) + " is not installed: no Wayland end-to-end test";
            return;
        }
    }
    if (geteuid() == 0) {
        // Sway refuses root: use (or make) an unprivileged user.
        const passwd* user = getpwnam(kUser);
        if (user == nullptr) {
            const int rc = std::system(
                "useradd --system --no-create-home --shell /usr/sbin/nologin tolvane-test "
                ">/dev/null 2>&1");
            (void)rc;
            user = getpwnam(kUser);
        }
        if (user == nullptr) {
            error_ =
                "running as root and cannot create the user tolvane-test for sway "
                "(sway refuses to run as root)";
            return;
        }
        asOther_ = true;
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
    }
    char pattern[] = "/tmp/tolvane-sway-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "cannot make a runtime folder for sway";
        return;
    }
    dir_ = pattern;
    const std::string config = dir_ + "/config";
    std::ofstream(config) << "output HEADLESS-1 resolution " << width << "x" << height << "\n"
                          << "default_border none\nfocus_follows_mouse no\n"
                          // Tolvane's own windows leave the focus where it is,
                          // and the output to the client under test.
                          << "no_focus [title=\"^Tolvane\"]\n"
                          << "for_window [title=\"^Tolvane\"] move container to workspace 9\n";
    if (asOther_ && (chown(dir_.c_str(), uid_, gid_) != 0 || chown(config.c_str(), uid_, gid_))) {
        error_ = "cannot give the runtime folder to tolvane-test";
        return;
    }
    sway_ = run({"sway", "-c", config},
                {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    for (int i = 0; i < 300 && (socket_.empty() || swaySocket_.empty()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        socket_ = findSocket(dir_, "wayland-");
        swaySocket_ = findSocket(dir_, "sway-ipc.");
        if (sway_->wait(0) != -1) break;
    }
    if (socket_.empty() || swaySocket_.empty()) {
        sway_->wait(1000);
        error_ = "headless sway did not start: " + sway_->output();
    }
}

SwaySession::~SwaySession() {
    if (sway_) {
        sway_->signal(SIGTERM);
        sway_->wait(5000);
        // XWayland and what sway started may outlive it.
        for (const pid_t pid : processesOf(dir_)) kill(pid, SIGKILL);
    }
    sway_.reset();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::vector<std::string> SwaySession::asUser(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& env) const {
    std::vector<std::string> full;
    if (asOther_) {
        full = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid_),
                "--regid=" + std::to_string(gid_), "--clear-groups", "--"};
    }
    full.insert(full.end(), {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + dir_,
                             "XDG_RUNTIME_DIR=" + dir_});
    if (!socket_.empty()) full.push_back("WAYLAND_DISPLAY=" + socket_);
    if (!swaySocket_.empty()) full.push_back("SWAYSOCK=" + swaySocket_);
    // The sanitizers' settings, for the program under test.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) full.push_back(std::string(name) + "=" + value);
    }
    full.insert(full.end(), env.begin(), env.end());
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

std::unique_ptr<ChildProcess> SwaySession::run(const std::vector<std::string>& argv,
                                               const std::vector<std::string>& env) const {
    return std::make_unique<ChildProcess>(asUser(argv, env), std::vector<std::string>{});
}

bool SwaySession::message(const std::string& command) const {
    auto swaymsg = run({"swaymsg", command});
    swaymsg->wait(10000);
    return swaymsg->output().find("\"success\": true") != std::string::npos;
}

std::string SwaySession::xDisplay() {
    if (!xDisplay_.empty()) return xDisplay_;
    // Sway gives its XWayland display to the programs it starts.
    const std::string file = dir_ + "/display";
    if (!message("exec echo \"$DISPLAY\" > " + file)) return "";
    for (int i = 0; i < 100 && xDisplay_.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string text = readFile(file);
        if (!text.empty() && text.back() == '\n') xDisplay_ = text.substr(0, text.size() - 1);
    }
    return xDisplay_;
}

void SwaySession::share(const std::string& path) const {
    chmod(path.c_str(), 0644);
}

WevClient::WevClient(const SwaySession& session) {
    if (!installed("wev") || !installed("stdbuf")) return;
    process_ = session.run({"stdbuf", "-oL", "wev"});
    // Mapped and focused: sway activates a new window.
    ok_ = process_->waitForOutput("activated", 15000);
}

std::vector<WevClient::Event> WevClient::events(const std::string& until, int timeoutMs) {
    if (!until.empty()) process_->waitForOutput(until, timeoutMs);
    process_->waitForOutput("\x01", 50);  // takes in what has arrived
    std::vector<Event> events;
    std::istringstream lines(process_->output());
    std::string line;
    const auto field = [&](const std::string& name) -> std::string {
        const size_t at = line.find(name + ": ");
        if (at == std::string::npos) return "";
        return line.substr(at + name.size() + 2);
    };
    // wev binds a second wl_keyboard when the seat's capabilities change and
    // prints each event once per binding: keep the first binding's.
    std::string keyboardId;
    std::string pointerId;
    const auto first = [&](std::string& id) {
        const std::string here = line.substr(0, line.find(':'));
        if (id.empty()) id = here;
        return id == here;
    };
    while (std::getline(lines, line)) {
        const bool keyboard = line.find("wl_keyboard]") != std::string::npos && first(keyboardId);
        const bool pointer = line.find("wl_pointer]") != std::string::npos && first(pointerId);
        if (!keyboard && !pointer) continue;
        if (line.find("wl_keyboard] key:") != std::string::npos) {
            Event e{Event::Type::Key, "", line.find("(pressed)") != std::string::npos};
            // The next line names the keysym: "sym: Right (65363), ...".
            std::string sym;
            if (std::getline(lines, sym)) {
                std::istringstream words(sym.substr(sym.find("sym:") + 4));
                words >> e.name;
            }
            events.push_back(e);
        } else if (line.find("wl_pointer] button:") != std::string::npos) {
            Event e{Event::Type::Button, "", line.find("(pressed)") != std::string::npos};
            const std::string button = field("button");
            const size_t open = button.find('(');
            if (open != std::string::npos)
                e.name = button.substr(open + 1, button.find(')') - open - 1);
            events.push_back(e);
        } else if (line.find("wl_pointer] axis: ") != std::string::npos) {
            Event e{Event::Type::Axis, "", false};
            std::sscanf(field("value").c_str(), "%lf", &e.x);
            events.push_back(e);
        } else if (line.find("wl_pointer] motion:") != std::string::npos ||
                   line.find("wl_pointer] enter:") != std::string::npos) {
            Event e{
                line.find("enter:") != std::string::npos ? Event::Type::Enter : Event::Type::Motion,
                "", false};
            std::sscanf(field("x, y").c_str(), "%lf, %lf", &e.x, &e.y);
            events.push_back(e);
        }
    }
    return events;
}
