// Key-press latency from the keyboard emitter's call to the receiving
// client: through the Wayland backend to a native client (wev) under a
// private headless sway, and through XTest to an X client under a private
// Xvfb, for comparison.
//
// Each sample is one KEY_CLICK of Right: the emitter's call that sends the
// press (and the release) starts the clock; the press arriving at the client
// stops it. The Wayland figure includes wev printing the event and the pipe
// to this program; the X client is a thread of this program blocked in
// XNextEvent. Both
// backends wait in the call until the server has handled each event, so the
// call's own time is given too.
//
// Usage: tolvane-input-latency-bench [--markdown] [COUNT]   (default 200)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/XReceiver.h"
#include "config/EventRouter.h"
#include "platform/WaylandDesktop.h"
#include "platform/X11Desktop.h"
#include "tests/support/QuietStdout.h"
#include "tests/support/SwaySession.h"
#include "tests/support/TempFile.h"
#include "tests/support/XvfbServer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    std::string backend;
    std::string skipped;  // why there are no samples
    std::vector<double> ms;
    std::vector<double> callMs;  // the emitter's call alone
};

// Clicks Right `count` times through the emitter of a configuration that
// binds it; `arrived(i, at)` waits for the i-th press at the client and
// gives the time it arrived.
template <typename Arrived>
void clicks(platform::Desktop& desktop, int count, Result& r, Arrived arrived) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    QuietStdout quiet;
    EventRouter router(desktop);
    if (router.loadGestureConfig(config.path().c_str(), 320, 240) != 0) return;
    const auto since = [](Clock::time_point t) {
        return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    };
    for (int i = 0; i < count; ++i) {
        router.keyboard().handleGesture(GestureId::HAND_RIGHT, 150);  // armed
        const auto start = Clock::now();
        router.keyboard().handleGesture(GestureId::HAND_RIGHT, 0);  // clicks
        r.callMs.push_back(since(start));
        Clock::time_point at;
        if (!arrived(i, at)) break;
        r.ms.push_back(std::chrono::duration<double, std::milli>(at - start).count());
    }
}

Result wayland(int count) {
    Result r{"Wayland virtual keyboard (sway, headless) → wev", "", {}, {}};
    SwaySession session(1600, 900);
    if (!session.ok()) {
        r.skipped = session.error();
        return r;
    }
    WevClient wev(session);
    if (!wev.ok()) {
        r.skipped = "wev is not there or did not map";
        return r;
    }
    std::string error;
    auto desktop = platform::WaylandDesktop::open(session.socket().c_str(), error, false);
    if (!desktop) {
        r.skipped = error;
        return r;
    }
    wev.events("wl_keyboard] enter", 10000);
    size_t from = wev.output().size();
    clicks(*desktop, count, r, [&](int, Clock::time_point& at) {
        if (!wev.waitFor("state: 1 (pressed)", from, 5000)) return false;
        at = Clock::now();
        // Past this press and its release, each printed once per binding.
        wev.waitFor("state: 0 (released)", from, 5000);
        from = wev.output().size();
        return true;
    });
    return r;
}

Result xtest(int count) {
    Result r{"XTest (Xvfb) → X client", "", {}, {}};
    XvfbServer server(1600, 900);
    if (!server.ok()) {
        r.skipped = server.error();
        return r;
    }
    XReceiver client(server.display());
    std::string error;
    auto desktop = platform::X11Desktop::open(server.display().c_str(), error, false);
    if (!client.ok() || !desktop) {
        r.skipped = error.empty() ? "no X client" : error;
        return r;
    }
    clicks(*desktop, count, r, [&](int i, Clock::time_point& at) {
        return client.waitPress(static_cast<size_t>(i), at);
    });
    return r;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

}  // namespace

int main(int argc, char** argv) {
    xInitThreads();
    bool markdown = false;
    int count = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--markdown") == 0) {
            markdown = true;
        } else {
            count = std::max(1, std::atoi(argv[i]));
        }
    }
    const Result results[] = {wayland(count), xtest(count)};
    if (markdown) {
        std::printf(
            "| input path | presses | median | 95th percentile | max | the emitter's call "
            "(median) |\n");
        std::printf("|---|---|---|---|---|---|\n");
    }
    for (const Result& r : results) {
        if (r.ms.empty()) {
            std::printf(markdown ? "| %s | not measured: %s | | | | |\n" : "%s: not measured: %s\n",
                        r.backend.c_str(), r.skipped.c_str());
            continue;
        }
        const double median = percentile(r.ms, 0.5);
        const double p95 = percentile(r.ms, 0.95);
        const double max = percentile(r.ms, 1.0);
        const double call = percentile(r.callMs, 0.5);
        std::printf(markdown ? "| %s | %zu | %.3f ms | %.3f ms | %.3f ms | %.3f ms |\n"
                             : "%s: %zu presses, median %.3f ms, p95 %.3f ms, max %.3f ms "
                               "(the emitter's call %.3f ms)\n",
                    r.backend.c_str(), r.ms.size(), median, p95, max, call);
    }
    return 0;
}
