#include "input/KeyboardEmitter.h"

#include <cstdio>
#include <cstring>

#include "input/EventCodes.h"
#include "platform/Log.h"

KeyboardEmitter::KeyboardEmitter(platform::Desktop& desktop) : desktop_(desktop) {}

uint8_t KeyboardEmitter::scanCodeOf(uint8_t vk) {
    switch (vk) {
        case 8:
            return 0x8E;
        case 9:
            return 0x8F;
        case 13:
            return 0x1C;
        case 16:
        case 160:
            return 0x2A;
        case 161:
            return 0x36;
        case 27:
            return 0x01;
        case 32:
            return 0xB9;
        case 35:
            return 0xCF;
        case 36:
            return 0xC7;
        case 37:
            return 0xCB;
        case 38:
            return 0xC8;
        case 39:
            return 0xCD;
        case 40:
            return 0xD0;
        case 45:
            return 0xD2;
        case 46:
            return 0xD3;
        default:
            return 0x00;
    }
}

bool KeyboardEmitter::isModifier(int32_t vk) {
    switch (vk) {
        case 16:
        case 17:
        case 18:
        case 91:
        case 92:
        case 160:
        case 161:
        case 162:
        case 163:
        case 164:
        case 165:
            return true;
        default:
            return false;
    }
}

void KeyboardEmitter::send(const KeyEntry& entry, bool up) {
    platform::KeyInput input;
    input.vk = entry.vk;
    input.scan = entry.scanCode;
    input.flags = up ? platform::KEYEVENTF_KEYUP : 0;
    desktop_.sendKey(input);
}

int32_t KeyboardEmitter::handleGesture(int32_t gesture, int32_t value) {
    int32_t lastCode = 0;
    int32_t result = 0;
    for (int i = 0; i < rules_.count(); ++i) {
        KeyRule& rule = rules_.rule(i);
        if (rule.gesture != gesture) continue;
        if (rule.key == 0 && rule.keyRel == 0) return lastCode;
        if (value >= rule.threshold) {
            switch (rule.mode) {
                case EventType::KEY_HOLD:
                    releaseKey(rule.keyRel);
                    lastCode = pressKey(rule.key);
                    break;
                case EventType::KEY_MULTI_CLICK:
                    if (rules_.repeatDue(i)) {
                        pressKey(rule.key);
                        desktop_.sleepMs(100);
                        lastCode = releaseKey(rule.key);
                    }
                    break;
                case EventType::KEY_CLICK:
                case EventType::KEY_TOGGLE:
                    rules_.arm(i);
                    break;
                default:
                    break;
            }
            rule.active = 1;
        } else {
            const int32_t m = handleModifier(gesture, rule.key, rules_.armed(i), lastCode);
            const bool fires =
                (rule.mode == EventType::KEY_CLICK || rule.mode == EventType::KEY_TOGGLE) &&
                rules_.armed(i) && rules_.cancelLowerLevel(gesture, rule.threshold) == 0 && m == 0;
            switch (rule.mode) {
                case EventType::KEY_HOLD:
                    lastCode = releaseKey(rule.key);
                    break;
                case EventType::KEY_CLICK:
                    if (fires) {
                        pressKey(rule.key);
                        lastCode = releaseKey(rule.key);
                    }
                    break;
                case EventType::KEY_TOGGLE:
                    if (fires) lastCode = toggleKey(rule.key);
                    break;
                default:
                    break;
            }
            if (fires) rules_.fired(i);
            rule.active = 0;
        }
        result = rule.active | lastCode;
    }
    return result;
}

int32_t KeyboardEmitter::handleModifier(int32_t gesture, uint8_t key, bool armed,
                                        int32_t& lastCode) {
    if (isModifier(key)) {
        heldModifier_.ownerGesture = gesture;
        heldModifier_.key = key;
        if (armed) {
            lastCode = pressKey(key);
            heldModifier_.held = 1;
        }
        return 1;
    }
    if (heldModifier_.held == 1 && gesture != heldModifier_.ownerGesture) {
        lastCode = releaseKey(static_cast<uint8_t>(heldModifier_.key));
        rules_.clearStates(heldModifier_.ownerGesture, true);
        heldModifier_ = HeldModifier{};
    }
    return 0;
}

int32_t KeyboardEmitter::pressKey(uint8_t vk) {
    if (vk == 0) return 0;
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk == vk && keys_[i].down == 0) {
            send(keys_[i], false);
            keys_[i].down = 1;
            logLine(">>> key : %s - down\t", keyName(vk));
            return kResultPressed;
        }
    }
    return 0;
}

int32_t KeyboardEmitter::releaseKey(uint8_t vk) {
    if (vk == 0) return 0;
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk == vk && keys_[i].down == 1) {
            send(keys_[i], true);
            keys_[i].down = 0;
            logLine(">>> key : %s - release\n", keyName(vk));
            return kResultReleased;
        }
    }
    return 0;
}

int32_t KeyboardEmitter::toggleKey(uint8_t vk) {
    if (vk == 0) return 0;
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk != vk) continue;
        if (keys_[i].down == 1) {
            send(keys_[i], true);
            keys_[i].down = 0;
            logLine(">>> key : %s - release\n", keyName(vk));
            return kResultReleased;
        }
        send(keys_[i], false);
        keys_[i].down = 1;
        logLine(">>> key : %s - down\n", keyName(vk));
        return kResultPressed;
    }
    return 0;
}

void KeyboardEmitter::releaseAllKeys() {
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].down == 1) send(keys_[i], true);
    }
}

void KeyboardEmitter::resetAndReleaseAllKeys() {
    resetRules();
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].down == 1) {
            send(keys_[i], true);
            keys_[i].down = 0;
            logLine(">>> key : %c - release\n", static_cast<char>(keys_[i].vk));
        }
    }
}

bool KeyboardEmitter::addRule(int32_t gesture, int32_t threshold, uint8_t key, uint8_t keyRel,
                              float param, int32_t mode) {
    return rules_.add(KeyRule{gesture, threshold, key, keyRel, 0, param, mode});
}

bool KeyboardEmitter::registerKey(uint8_t vk) {
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk == vk) return true;
    }
    if (keyCount_ >= kMaxKeys) return false;
    keys_[keyCount_++] = KeyEntry{vk, scanCodeOf(vk), 0};
    return true;
}

bool KeyboardEmitter::isDown(uint8_t vk) const {
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk == vk) return keys_[i].down == 1;
    }
    return false;
}

const char* KeyboardEmitter::keyName(int32_t vk) {
    switch (vk) {
        case 38:
            std::strcpy(keyNameBuffer_, "UP");
            break;
        case 40:
            std::strcpy(keyNameBuffer_, "DOWN");
            break;
        case 37:
            std::strcpy(keyNameBuffer_, "LEFT");
            break;
        case 39:
            std::strcpy(keyNameBuffer_, "RIGHT");
            break;
        case 13:
            std::strcpy(keyNameBuffer_, "ENTER");
            break;
        case 27:
            std::strcpy(keyNameBuffer_, "ESC");
            break;
        case 240:
        case 241:
            std::strcpy(keyNameBuffer_, "NONE");
            break;
        default:
            keyNameBuffer_[0] = static_cast<char>(vk);
            keyNameBuffer_[1] = '\0';
            break;
    }
    return keyNameBuffer_;
}
