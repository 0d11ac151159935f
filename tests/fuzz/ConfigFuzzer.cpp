// Configuration files from anywhere: the parser must refuse what it cannot
// use, and whatever it accepts must be rules and settings the emitters and
// the screen mapping can take without harm. The parser alone runs: no
// emitter, no cursor worker.
#include <cmath>
#include <string>
#include <string_view>

#include "config/Configuration.h"
#include "input/KeyboardEmitter.h"
#include "input/MouseEmitter.h"
#include "input/ScreenMapping.h"
#include "platform/Desktop.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/fuzz/Problems.h"

namespace fuzz {
namespace {

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

// What the parser gave: counts within the emitters' tables, every rule
// well-formed, settings within their ranges, and a screen mapping whose
// figures stay finite and within whole 32-bit numbers.
void checkConfiguration(const Configuration& c, Problems& p) {
    const size_t keyboardRules = c.keyboardRules.size();
    const size_t mouseRules = c.mouseRules.size();
    p.expect(keyboardRules <= static_cast<size_t>(KeyboardEmitter::kMaxRules), "%zu keyboard rules",
             keyboardRules);
    p.expect(mouseRules <= static_cast<size_t>(MouseEmitter::kMaxRules), "%zu mouse rules",
             mouseRules);
    if (!p.empty()) return;

    uint8_t codes[MouseEmitter::kMaxButtons + 1]{};
    int codeCount = 0;
    for (size_t i = 0; i < keyboardRules; ++i) {
        const ConfiguredRule& r = c.keyboardRules[i];
        p.expect(validGesture(r.gesture), "keyboard rule %zu: gesture %d", i, r.gesture);
        p.expect(EventType::isKeyboard(r.event) && validEvent(r.event),
                 "keyboard rule %zu: event %d", i, r.event);
        p.expect(r.key != KeyCode::NOT_A_KEY, "keyboard rule %zu: key 255", i);
        p.expect(fitsInt32(r.param), "keyboard rule %zu: param %g", i, double{r.param});
        if (validGesture(r.gesture)) {
            p.expect(c.eventOfGesture[static_cast<size_t>(r.gesture)] != 0,
                     "keyboard rule %zu: gesture %d unrouted", i, r.gesture);
        }
    }
    for (size_t i = 0; i < mouseRules; ++i) {
        const ConfiguredRule& r = c.mouseRules[i];
        p.expect(validGesture(r.gesture), "mouse rule %zu: gesture %d", i, r.gesture);
        p.expect(EventType::isMouse(r.event) && validEvent(r.event), "mouse rule %zu: event %d", i,
                 r.event);
        p.expect(fitsInt32(r.param), "mouse rule %zu: param %g", i, double{r.param});
        bool known = false;
        for (int b = 0; b < codeCount; ++b) known |= codes[b] == r.key;
        if (!known && codeCount <= MouseEmitter::kMaxButtons) codes[codeCount++] = r.key;
    }
    p.expect(codeCount <= MouseEmitter::kMaxButtons, "more than %d mouse codes",
             MouseEmitter::kMaxButtons);
    for (int g = 0; g < GestureId::kCapacity; ++g) {
        const int32_t e = c.eventOfGesture[static_cast<size_t>(g)];
        p.expect(e == 0 || validEvent(e), "gesture %d routed to event %d", g, e);
    }
    if (!c.failed()) {
        p.expect(c.oneHandMode == 1 || c.oneHandMode == 2, "one-hand mode %d", c.oneHandMode);
        p.expect(c.twoHandMode == 1 || c.twoHandMode == 2, "two-hand mode %d", c.twoHandMode);
    }
    p.expect(c.feedbackSound == 0 || c.feedbackSound == 1, "feedback sound %d", c.feedbackSound);
    p.expect(c.feedbackWindow >= 0 && c.feedbackWindow <= 5, "feedback window %d",
             c.feedbackWindow);
    p.expect(c.toggleModeGesture >= 0 && c.toggleModeGesture < GestureId::kCapacity,
             "toggle gesture %d", c.toggleModeGesture);
    p.expect(c.changeModeGesture >= 0 && c.changeModeGesture < GestureId::kCapacity,
             "change gesture %d", c.changeModeGesture);

    // The screen mapping derived from the rules, as the cursor worker gets it.
    const ScreenMapping m = c.screenMapping(640, 480, {1920, 1080});
    p.expect(std::isfinite(m.scaleX) && std::isfinite(m.scaleY), "scale %g x %g", double{m.scaleX},
             double{m.scaleY});
    p.expect(
        fitsInt32(m.fineScaleX * kLargestHandStep) && fitsInt32(m.fineScaleY * kLargestHandStep),
        "fine scale %g x %g", double{m.fineScaleX}, double{m.fineScaleY});
    p.expect(fitsInt32(m.holdTolerance), "hold tolerance %g", double{m.holdTolerance});
}

}  // namespace

std::string configLoader(Input input) {
    Problems p;
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    const Configuration c = parseConfiguration(text, "fuzz", platform::usKeyScan);
    p.expect(c.log.size() > c.errors.size(), "%zu log pieces for %zu errors", c.log.size(),
             c.errors.size());
    checkConfiguration(c, p);
    return p.text();
}

}  // namespace fuzz
