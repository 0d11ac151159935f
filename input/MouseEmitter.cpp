#include "input/MouseEmitter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "input/EventCodes.h"
#include "platform/Log.h"

using namespace platform;

MouseEmitter::MouseEmitter(Desktop& desktop)
    : desktop_(desktop), cursor_(std::make_unique<CursorThread>(desktop)) {}

MouseEmitter::~MouseEmitter() {
    cursor_->stop();
}

ButtonEntry* MouseEmitter::findButton(uint8_t code) {
    for (int i = 0; i < buttonCount_; ++i) {
        if (buttons_[i].code == code) return &buttons_[i];
    }
    return nullptr;
}

bool MouseEmitter::isDown(uint8_t code) const {
    for (int i = 0; i < buttonCount_; ++i) {
        if (buttons_[i].code == code) return buttons_[i].down == 1;
    }
    return false;
}

void MouseEmitter::send(const ButtonEntry& entry, bool up) {
    MouseInput input;
    input.flags = static_cast<uint32_t>(up ? entry.upFlags : entry.downFlags);
    if (input.flags & MOUSEEVENTF_WHEEL) input.mouseData = -WHEEL_DELTA;
    input.extraInfo = desktop_.messageExtraInfo();
    desktop_.sendMouse(input);
}

int32_t MouseEmitter::handleGesture(int32_t x, int32_t y, int32_t gesture, int32_t value) {
    int32_t lastCode = 0;
    int32_t result = 0;
    int32_t hold = 0;
    bool holdUsed = false;  // a hold-gated event went out on the pulse
    for (int i = 0; i < rules_.count(); ++i) {
        MouseRule& rule = rules_.rule(i);
        if (rule.gesture != gesture) continue;
        if (rule.key == 0 && rule.keyRel == 0) return lastCode;
        if (rule.mode >= EventType::MOUSEW_CLICK && rule.mode <= EventType::MOUSEW_TOGGLE) {
            hold = cursor_->holdForLatest();
        }
        if (value >= rule.threshold) {
            switch (rule.mode) {
                case EventType::MOUSE_CLICK:
                case EventType::MOUSE_DOUBLE_CLICK:
                case EventType::MOUSE_TOGGLE:
                    armedX_ = x;
                    armedY_ = y;
                    rules_.arm(i);
                    break;
                case EventType::MOUSE_MULTI_CLICK:
                    if (rules_.repeatDue(i)) {
                        buttonDown(x, y, rule.key);
                        desktop_.sleepMs(100);
                        lastCode = buttonUp(x, y, rule.key);
                    }
                    break;
                case EventType::MOUSE_HOLD:
                    lastCode = buttonDown(x, y, rule.key);
                    break;
                case EventType::MOUSE_MOVE:
                    lastCode = moveCursor(x, y, rule.key, value);
                    break;
                case EventType::MOUSEW_CLICK:
                    if (hold == 1) {
                        holdUsed = true;
                        buttonDown(x, y, rule.key);
                        lastCode = buttonUp(x, y, rule.key);
                    }
                    break;
                case EventType::MOUSEW_DCLICK:
                    if (hold == 1) {
                        holdUsed = true;
                        buttonDown(x, y, rule.key);
                        buttonUp(x, y, rule.key);
                        buttonDown(x, y, rule.key);
                        lastCode = buttonUp(x, y, rule.key);
                    }
                    break;
                case EventType::MOUSEW_TOGGLE:
                    if (hold == 1) {
                        holdUsed = true;
                        lastCode = toggleButton(rule.key);
                    }
                    break;
                default:
                    break;
            }
            rule.active = 1;
        } else {
            const bool fires = (rule.mode == EventType::MOUSE_CLICK ||
                                rule.mode == EventType::MOUSE_DOUBLE_CLICK ||
                                rule.mode == EventType::MOUSE_TOGGLE) &&
                               rules_.armed(i) &&
                               rules_.cancelLowerLevel(gesture, rule.threshold) == 0;
            switch (rule.mode) {
                case EventType::MOUSE_CLICK:
                    if (fires) {
                        buttonDown(armedX_, armedY_, rule.key);
                        lastCode = buttonUp(armedX_, armedY_, rule.key);
                    }
                    break;
                case EventType::MOUSE_DOUBLE_CLICK:
                    if (fires) {
                        buttonDown(armedX_, armedY_, rule.key);
                        buttonUp(armedX_, armedY_, rule.key);
                        buttonDown(armedX_, armedY_, rule.key);
                        lastCode = buttonUp(armedX_, armedY_, rule.key);
                    }
                    break;
                case EventType::MOUSE_TOGGLE:
                    if (fires) lastCode = toggleButton(rule.key);
                    break;
                case EventType::MOUSE_HOLD:
                    lastCode = buttonUp(x, y, rule.key);
                    break;
                case EventType::MOUSE_MOVE:
                    lastCode = moveCursor(x, y, rule.key, value);
                    break;
                default:
                    break;
            }
            if (fires) rules_.fired(i);
            rule.active = 0;
        }
        result = rule.active | lastCode;
    }
    // One hold, one hold-gated event: the flag would otherwise stay up until
    // the next target, which may come seconds later, after a gesture.
    if (holdUsed) cursor_->consumeHold();
    return result;
}

int32_t MouseEmitter::handleGestureAtCursor(int32_t gesture, int32_t value, int16_t kind) {
    if (kind != 1 && kind != 2) return 0;
    const ScreenPoint cursor = desktop_.cursorPos();
    const float scaleX = mapping_.scaleX;
    const float scaleY = mapping_.scaleY;
    const int32_t x =
        scaleX != 0.0f ? static_cast<int32_t>(static_cast<float>(cursor.x) / scaleX) : 0;
    const int32_t y =
        scaleY != 0.0f ? static_cast<int32_t>(static_cast<float>(cursor.y) / scaleY) : 0;
    const int32_t first = handleGesture(x, y, gesture, value);
    if (kind == 1 || (first & kResultActive) == 0) return first;
    return handleGesture(x, y, gesture, 0);
}

void MouseEmitter::moveToward(int32_t x, int32_t y) {
    const ScreenMapping& m = mapping_;
    const ScreenPoint cursor = desktop_.cursorPos();
    int32_t tx = static_cast<int32_t>(static_cast<float>(x) * m.scaleX) + cursor.x;
    int32_t ty = static_cast<int32_t>(static_cast<float>(y) * m.scaleY) + cursor.y;
    tx = std::min(std::max(tx, 0), m.screenWidth - 5);
    ty = std::min(std::max(ty, 0), m.screenHeight - 5);
    const bool bigEnough = std::abs(x) > m.moveThreshold || std::abs(y) > m.moveThreshold;
    const bool newTarget = std::abs(lastPushedX_ - tx) > 3 || std::abs(lastPushedY_ - ty) > 3;
    if (bigEnough && newTarget) {
        lastPushedX_ = tx;
        lastPushedY_ = ty;
        // The target is a screen position: the worker's running target jumps to it.
        cursor_->moveTo(tx, ty);
    }
}

int32_t MouseEmitter::buttonDown(int32_t x, int32_t y, uint8_t code) {
    return setButton(x, y, code, true);
}

int32_t MouseEmitter::buttonUp(int32_t x, int32_t y, uint8_t code) {
    return setButton(x, y, code, false);
}

int32_t MouseEmitter::setButton(int32_t x, int32_t y, uint8_t code, bool down) {
    if (code == 0) return 0;
    ButtonEntry* b = findButton(code);
    if (b == nullptr) return 0;
    if (code == KeyCode::M_MOVE) {
        moveToward(x, y);
        return 0;
    }
    const int32_t state = down ? 1 : 0;
    if (b->down == state) return 0;
    send(*b, !down);
    b->down = state;
    if (code != KeyCode::M_NOMOVE) {
        logLine(down ? ">>> mouse : %s - down\t" : ">>> mouse : %s - release\n", buttonName(code));
    }
    return down ? kResultPressed : kResultReleased;
}

int32_t MouseEmitter::toggleButton(uint8_t code) {
    if (code == 0 || code == KeyCode::M_MOVE) return 0;
    ButtonEntry* b = findButton(code);
    if (b == nullptr) return 0;
    if (b->down == 0) {
        send(*b, false);
        b->down = 1;
        logLine(">>> mouse : %s - down\n", buttonName(code));
        return kResultPressed;
    }
    send(*b, true);
    b->down = 0;
    logLine(">>> mouse : %s - release\n", buttonName(code));
    return kResultReleased;
}

int32_t MouseEmitter::moveCursor(int32_t x, int32_t y, uint8_t code, int32_t value) {
    if (code != KeyCode::M_MOVE) return buttonDown(x, y, code);
    const int32_t limit = ruleThreshold(GestureId::HAND_MOVE);
    const bool fast = value > limit;
    const float sx = fast ? mapping_.scaleX : mapping_.fineScaleX;
    const float sy = fast ? mapping_.scaleY : mapping_.fineScaleY;
    cursor_->moveBy(static_cast<int32_t>(static_cast<float>(x) * sx),
                    static_cast<int32_t>(static_cast<float>(y) * sy));
    return kResultActive;
}

void MouseEmitter::releaseAllButtons() {
    for (int i = 0; i < buttonCount_; ++i) {
        if (buttons_[i].down == 1) send(buttons_[i], true);
    }
    cursor_->stop();
}

void MouseEmitter::resetAndReleaseAllButtons() {
    resetRules();
    for (int i = 0; i < buttonCount_; ++i) {
        if (buttons_[i].down == 1) {
            send(buttons_[i], true);
            buttons_[i].down = 0;
            logLine(">>> mouse : %s - release\n", buttonName(buttons_[i].code));
        }
    }
}

bool MouseEmitter::addRule(int32_t gesture, int32_t threshold, uint8_t key, float param,
                           int32_t mode) {
    return rules_.add(MouseRule{gesture, threshold, key, 0, 0, param, mode});
}

bool MouseEmitter::registerButton(uint8_t code) {
    if (findButton(code) != nullptr) return true;
    if (buttonCount_ >= kMaxButtons) return false;
    ButtonEntry entry;
    entry.code = code;
    switch (code) {
        case KeyCode::M_LBUTTON:
            entry.downFlags = MOUSEEVENTF_LEFTDOWN;
            entry.upFlags = MOUSEEVENTF_LEFTUP;
            break;
        case KeyCode::M_RBUTTON:
            entry.downFlags = MOUSEEVENTF_RIGHTDOWN;
            entry.upFlags = MOUSEEVENTF_RIGHTUP;
            break;
        case KeyCode::M_MBUTTON:
            entry.downFlags = MOUSEEVENTF_MIDDLEDOWN;
            entry.upFlags = MOUSEEVENTF_MIDDLEUP;
            break;
        case KeyCode::M_WHEEL:
            entry.downFlags = MOUSEEVENTF_WHEEL;
            break;
        default:
            break;
    }
    buttons_[buttonCount_++] = entry;
    return true;
}

void MouseEmitter::configureScreenMapping(int32_t sensorW, int32_t sensorH) {
    const auto figures = [this](int32_t gesture, MappingRule& out) -> const MappingRule* {
        const int i = rules_.first(gesture);
        if (i < 0) return nullptr;
        out = MappingRule{rules_.rule(i).threshold, rules_.rule(i).param};
        return &out;
    };
    MappingRule move;
    MappingRule hold;
    mapping_ = computeScreenMapping(sensorW, sensorH, desktop_.screenSize(),
                                    figures(GestureId::HAND_MOVE, move),
                                    figures(GestureId::HAND_HOLD, hold), mapping_);
    cursor_->start(CursorSettings{mapping_.screenWidth, mapping_.screenHeight, mapping_.holdFrames,
                                  static_cast<int32_t>(mapping_.holdTolerance)});
    logScreenMapping(mapping_);
}

const char* MouseEmitter::buttonName(int32_t code) {
    const char* name = nullptr;
    switch (code) {
        case 101:
            name = "MOVE";
            break;
        case 102:
            name = "L_BUTTON";
            break;
        case 103:
            name = "R_BUTTON";
            break;
        case 104:
            name = "M_BUTTON";
            break;
        case 105:
            name = "WHEEL";
            break;
        case 200:
            name = "NO_MOVE";
            break;
        case 240:
        case 241:
            name = "NONE";
            break;
        default:
            break;
    }
    if (name != nullptr) std::strcpy(nameBuffer_, name);
    return nameBuffer_;
}
