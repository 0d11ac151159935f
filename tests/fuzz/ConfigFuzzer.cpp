// Configuration files from anywhere: the loader must refuse what it cannot
// use, and whatever it accepts must leave the router and both emitters in a
// state the recognisers can drive without harm.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "config/EventRouter.h"
#include "platform/RecordingDesktop.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/fuzz/InputLedger.h"
#include "tests/fuzz/Problems.h"

namespace fuzz {
namespace {

// The input as a file that lives only in memory, opened again through
// /proc/self/fd like any other path.
class MemoryFile {
  public:
    explicit MemoryFile(Input bytes) : fd_(memfd_create("tolvane-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) return;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Empty when the file could not be made.
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

// The emitters keep params as whole-number repeat countdowns and the hold
// tolerance as a whole number, and multiply hand steps (up to 2e6 mm, from
// coordinates clamped to +-1e6 mm) by the fine scale; all must fit an int32.
constexpr double kInt32Limit = 2147483647.0;
constexpr double kLargestHandStep = 2.0e6;

bool fitsInt32(double v) {
    return std::fabs(v) < kInt32Limit;
}

bool validEvent(int32_t type) {
    return (type >= EventType::KEY_CLICK && type <= EventType::KEY_TOGGLE) ||
           (type >= EventType::MOUSE_CLICK && type <= EventType::MOUSEW_TOGGLE);
}

bool validGesture(int32_t g) {
    return g >= 1 && g < GestureId::kCapacity;
}

// What the loader left behind: counts within the tables, every rule
// well-formed and its key registered, settings within their ranges.
void checkLoadedState(EventRouter& router, int32_t result, Problems& p) {
    p.expect(result == 0 || result == 1, "load returned %d", result);
    p.expect((result == 1) == !router.loadErrors().empty(), "load returned %d with %zu error lines",
             result, router.loadErrors().size());

    const KeyboardEmitter& keys = *router.keyboardEmitter;
    const MouseEmitter& mouse = *router.mouseEmitter;
    p.expect(keys.ruleCount() >= 0 && keys.ruleCount() <= KeyboardEmitter::kMaxRules,
             "%d keyboard rules", keys.ruleCount());
    p.expect(mouse.ruleCount() >= 0 && mouse.ruleCount() <= MouseEmitter::kMaxRules,
             "%d mouse rules", mouse.ruleCount());
    p.expect(keys.keyCount() >= 0 && keys.keyCount() <= KeyboardEmitter::kMaxKeys, "%d keys",
             keys.keyCount());
    p.expect(mouse.buttonCount() >= 0 && mouse.buttonCount() <= MouseEmitter::kMaxButtons,
             "%d buttons", mouse.buttonCount());
    if (!p.empty()) return;  // the tables themselves are not to be trusted

    for (int i = 0; i < keys.ruleCount(); ++i) {
        const KeyRule& r = keys.rule(i);
        p.expect(validGesture(r.gesture), "keyboard rule %d: gesture %d", i, r.gesture);
        p.expect(EventType::isKeyboard(r.mode) && validEvent(r.mode), "keyboard rule %d: event %d",
                 i, r.mode);
        p.expect(r.key != KeyCode::NOT_A_KEY, "keyboard rule %d: key 255", i);
        p.expect(fitsInt32(r.param), "keyboard rule %d: param %g", i, double{r.param});
        bool registered = false;
        for (int k = 0; k < keys.keyCount(); ++k) registered |= keys.key(k).vk == r.key;
        p.expect(registered, "keyboard rule %d: key %d not registered", i, r.key);
        if (validGesture(r.gesture)) {
            p.expect(router.eventOfGesture[r.gesture] != 0, "keyboard rule %d: gesture %d unrouted",
                     i, r.gesture);
        }
    }
    for (int i = 0; i < mouse.ruleCount(); ++i) {
        const MouseRule& r = mouse.rule(i);
        p.expect(validGesture(r.gesture), "mouse rule %d: gesture %d", i, r.gesture);
        p.expect(EventType::isMouse(r.mode) && validEvent(r.mode), "mouse rule %d: event %d", i,
                 r.mode);
        p.expect(fitsInt32(r.param), "mouse rule %d: param %g", i, double{r.param});
        bool registered = false;
        for (int b = 0; b < mouse.buttonCount(); ++b) registered |= mouse.button(b).code == r.key;
        p.expect(registered, "mouse rule %d: code %d not registered", i, r.key);
    }
    for (int g = 0; g < GestureId::kCapacity; ++g) {
        const int32_t e = router.eventOfGesture[g];
        p.expect(e == 0 || validEvent(e), "gesture %d routed to event %d", g, e);
    }
    if (result == 0) {
        p.expect(router.oneHandMode == 1 || router.oneHandMode == 2, "one-hand mode %d",
                 router.oneHandMode);
        p.expect(router.twoHandMode == 1 || router.twoHandMode == 2, "two-hand mode %d",
                 router.twoHandMode);
    }
    p.expect(router.feedbackSound == 0 || router.feedbackSound == 1, "feedback sound %d",
             router.feedbackSound);
    p.expect(router.feedbackWindow >= 0 && router.feedbackWindow <= 5, "feedback window %d",
             router.feedbackWindow);
    p.expect(router.toggleModeGesture >= 0 && router.toggleModeGesture < GestureId::kCapacity,
             "toggle gesture %d", router.toggleModeGesture);
    p.expect(router.changeModeGesture >= 0 && router.changeModeGesture < GestureId::kCapacity,
             "change gesture %d", router.changeModeGesture);

    // The screen mapping derived from the rules, as the cursor worker gets it.
    p.expect(std::isfinite(mouse.scaleX) && std::isfinite(mouse.scaleY), "scale %g x %g",
             double{mouse.scaleX}, double{mouse.scaleY});
    p.expect(fitsInt32(mouse.fineScaleX * kLargestHandStep) &&
                 fitsInt32(mouse.fineScaleY * kLargestHandStep),
             "fine scale %g x %g", double{mouse.fineScaleX}, double{mouse.fineScaleY});
    p.expect(fitsInt32(mouse.holdTolerance), "hold tolerance %g", double{mouse.holdTolerance});
}

// Drives every configured gesture across each of its thresholds through all
// three routing operations, with and without the cursor worker's hold pulse,
// then lets go of everything as a frame without hands does.
void driveRules(EventRouter& router, platform::RecordingDesktop& desktop, Problems& p) {
    MouseEmitter& mouse = *router.mouseEmitter;
    // A stopped worker keeps the run repeatable; the hold pulse is set by hand.
    mouse.cursorThread->stop();
    std::vector<int32_t> thresholds;
    for (int32_t g = 1; g < GestureId::kCapacity; ++g) {
        if (router.eventOfGesture[g] == 0) continue;
        thresholds.clear();
        for (int i = 0; i < router.keyboardEmitter->ruleCount(); ++i) {
            if (router.keyboardEmitter->rule(i).gesture == g) {
                thresholds.push_back(router.keyboardEmitter->rule(i).threshold);
            }
        }
        for (int i = 0; i < mouse.ruleCount(); ++i) {
            if (mouse.rule(i).gesture == g) thresholds.push_back(mouse.rule(i).threshold);
        }
        for (const int32_t t : thresholds) {
            const int32_t below = t == INT32_MIN ? t : t - 1;
            for (int pulse = 0; pulse < 2; ++pulse) {
                mouse.cursorThread->holdFlag.store(pulse);
                router.routeGesture(g, t);
                router.routeGesture(g, below);
                router.routeGestureAtCursor(g, t, 2);
                router.routeGestureAtCursor(g, below, 1);
                router.routeMove(pulse == 0 ? 40 : -40, 25, g, t);
                router.routeMove(0, 0, g, below);
            }
            router.gestureThreshold(g);
            router.gestureActive(g);
        }
        router.clearOtherRuleStates(g);
    }
    router.keyboardEmitter->resetAndReleaseAllKeys();
    mouse.resetAndReleaseAllButtons();

    InputLedger ledger;
    for (const platform::InputRecord& r : desktop.take()) p.add(ledger.add(r));
    p.expect(ledger.down().empty(), "still down after the release: %s", ledger.down().c_str());
    for (int k = 0; k < router.keyboardEmitter->keyCount(); ++k) {
        p.expect(router.keyboardEmitter->key(k).down == 0, "key %d still down",
                 router.keyboardEmitter->key(k).vk);
    }
    for (int b = 0; b < mouse.buttonCount(); ++b) {
        p.expect(mouse.button(b).down == 0, "button %d still down", mouse.button(b).code);
    }
}

}  // namespace

std::string configLoader(Input input) {
    Problems p;
    const MemoryFile file(input);
    if (file.path().empty()) return "cannot make an in-memory file";
    platform::RecordingDesktop desktop;
    EventRouter router(desktop);
    const int32_t result = router.loadGestureConfig(file.path().c_str(), 640, 480);
    checkLoadedState(router, result, p);
    // A file with an error ends the program; only accepted ones are ever used.
    if (result == 0 && p.empty()) driveRules(router, desktop, p);
    return p.text();
}

}  // namespace fuzz
