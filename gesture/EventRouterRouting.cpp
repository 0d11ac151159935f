// The EventRouter's routing: each recognised gesture goes to the emitter that
// holds its rules, chosen by the gesture's event type (1..100 keyboard, above
// 100 mouse); a gesture without rules gives 0 everywhere. routeGesture also
// switches the one-hand mode when the toggle gesture fires.
#include "config/EventRouter.h"
#include "platform/Log.h"

namespace {

enum class Holder { None, Keyboard, Mouse };

Holder holderOf(const EventRouter& router, int32_t gesture) {
    if (gesture < 0 || gesture >= GestureId::kCapacity) {
        return Holder::None;
    }
    const int32_t type = router.eventOfGesture[gesture];
    if (EventType::isKeyboard(type)) {
        return Holder::Keyboard;
    }
    if (EventType::isMouse(type)) {
        return Holder::Mouse;
    }
    return Holder::None;
}

}  // namespace

int32_t EventRouter::routeGesture(int32_t gesture, int32_t value) {
    int32_t result = 0;
    switch (holderOf(*this, gesture)) {
        case Holder::None:
            return 0;
        case Holder::Keyboard:
            result = keyboard_->handleGesture(gesture, value);
            break;
        case Holder::Mouse:
            result = mouse_->handleGestureAtCursor(gesture, value, 1);
            break;
    }
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
    switch (holderOf(*this, gesture)) {
        case Holder::Keyboard:
            return keyboard_->handleGesture(gesture, value);
        case Holder::Mouse:
            return mouse_->handleGestureAtCursor(gesture, value, kind);
        case Holder::None:
            break;
    }
    return 0;
}

int32_t EventRouter::routeMove(int32_t dx, int32_t dy, int32_t gesture, int32_t value) {
    switch (holderOf(*this, gesture)) {
        case Holder::Keyboard:
            return keyboard_->handleGesture(gesture, value);
        case Holder::Mouse:
            return mouse_->handleGesture(dx, dy, gesture, value);
        case Holder::None:
            break;
    }
    return 0;
}

void EventRouter::clearAllRuleStates() {
    keyboard_->resetRules();
    mouse_->resetRules();
}

void EventRouter::clearOtherRuleStates(int32_t gesture) {
    switch (holderOf(*this, gesture)) {
        case Holder::Keyboard:
            keyboard_->resetOtherRules(gesture);
            break;
        case Holder::Mouse:
            mouse_->resetOtherRules(gesture);
            break;
        case Holder::None:
            break;
    }
}

int32_t EventRouter::gestureThreshold(int32_t gesture) {
    switch (holderOf(*this, gesture)) {
        case Holder::Keyboard:
            return keyboard_->ruleThreshold(gesture);
        case Holder::Mouse:
            return mouse_->ruleThreshold(gesture);
        case Holder::None:
            break;
    }
    return 0;
}

int32_t EventRouter::gestureActive(int32_t gesture) {
    switch (holderOf(*this, gesture)) {
        case Holder::Keyboard:
            return keyboard_->ruleActive(gesture);
        case Holder::Mouse:
            return mouse_->ruleActive(gesture);
        case Holder::None:
            break;
    }
    return 0;
}
