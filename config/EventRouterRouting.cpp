// The EventRouter's routing: each recognised gesture goes to the emitter that
// holds its rules, chosen by the gesture's event type (1..100 keyboard, above
// 100 mouse); a gesture without rules gives 0 everywhere. routeGesture also
// switches the one-hand mode when the toggle gesture fires.
#include "config/EventRouter.h"
#include "platform/Log.h"

namespace {

// Calls onKeyboard(keyboard emitter) or onMouse(mouse emitter), whichever
// holds the gesture's rules; 0 when neither does.
template <typename OnKeyboard, typename OnMouse>
int32_t toHolder(EventRouter& router, int32_t gesture, OnKeyboard onKeyboard, OnMouse onMouse) {
    if (gesture < 0 || gesture >= GestureId::kCapacity) return 0;
    const int32_t type = router.eventOfGesture[gesture];
    if (EventType::isKeyboard(type)) return onKeyboard(router.keyboard());
    if (EventType::isMouse(type)) return onMouse(router.mouse());
    return 0;
}

// The same call on whichever emitter holds the gesture's rules.
template <typename OnEither>
int32_t toHolder(EventRouter& router, int32_t gesture, OnEither onEither) {
    return toHolder(router, gesture, onEither, onEither);
}

}  // namespace

int32_t EventRouter::routeGesture(int32_t gesture, int32_t value) {
    const int32_t result = toHolder(
        *this, gesture, [&](KeyboardEmitter& k) { return k.handleGesture(gesture, value); },
        [&](MouseEmitter& m) { return m.handleGestureAtCursor(gesture, value, 1); });
    // A gesture named both the toggle and the change gesture never switches.
    if ((result & kResultFired) != 0 && gesture != changeModeGesture &&
        gesture == toggleModeGesture) {
        if (oneHandMode == InputMode::KEYBOARD_MODE) {
            oneHandMode = InputMode::MOUSE_MODE;
            logLine("\n>   Change to Mouse mode (%d) !!!\n", oneHandMode);
        } else {
            oneHandMode = InputMode::KEYBOARD_MODE;
            logLine("\n>   Change to Keyboard mode (%d) !!!\n", oneHandMode);
        }
        logLine("\a");
    }
    return result;
}

int32_t EventRouter::routeGestureAtCursor(int32_t gesture, int32_t value, int16_t kind) {
    return toHolder(
        *this, gesture, [&](KeyboardEmitter& k) { return k.handleGesture(gesture, value); },
        [&](MouseEmitter& m) { return m.handleGestureAtCursor(gesture, value, kind); });
}

int32_t EventRouter::routeMove(int32_t dx, int32_t dy, int32_t gesture, int32_t value) {
    return toHolder(
        *this, gesture, [&](KeyboardEmitter& k) { return k.handleGesture(gesture, value); },
        [&](MouseEmitter& m) { return m.handleGesture(dx, dy, gesture, value); });
}

void EventRouter::clearAllRuleStates() {
    keyboard_->resetRules();
    mouse_->resetRules();
}

void EventRouter::clearOtherRuleStates(int32_t gesture) {
    toHolder(*this, gesture, [&](auto& emitter) {
        emitter.resetOtherRules(gesture);
        return 0;
    });
}

int32_t EventRouter::gestureThreshold(int32_t gesture) {
    return toHolder(*this, gesture, [&](auto& emitter) { return emitter.ruleThreshold(gesture); });
}

int32_t EventRouter::gestureActive(int32_t gesture) {
    return toHolder(*this, gesture, [&](auto& emitter) { return emitter.ruleActive(gesture); });
}
