#include "input/KeyboardEmitter.h"

#include <cstdio>
#include <cstring>

#include "config/Vocabulary.h"
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
    for (int i = 0; i < ruleCount_; ++i) {
        KeyRule& rule = rules_[i];
        if (rule.gesture != gesture) continue;
        if (rule.key == 0 && rule.keyRel == 0) return lastCode;
        if (value >= rule.threshold) {
            switch (rule.mode) {
                case EventType::KEY_HOLD:
                    releaseKey(rule.keyRel);
                    lastCode = pressKey(rule.key);
                    break;
                case EventType::KEY_MULTI_CLICK:
                    if (repeatCountdown_[i] == 0) {
                        pressKey(rule.key);
                        desktop_.sleepMs(100);
                        lastCode = releaseKey(rule.key);
                        repeatCountdown_[i] = static_cast<int32_t>(rule.param);
                    }
                    --repeatCountdown_[i];
                    break;
                case EventType::KEY_CLICK:
                case EventType::KEY_TOGGLE:
                    armed_[i] = 1;
                    break;
                default:
                    break;
            }
            rule.active = 1;
        } else {
            const int32_t m = handleModifier(gesture, rule.key, armed_[i], lastCode);
            switch (rule.mode) {
                case EventType::KEY_HOLD:
                    lastCode = releaseKey(rule.key);
                    break;
                case EventType::KEY_CLICK:
                    if (armed_[i] == 1 && cancelLowerLevel(gesture, rule.threshold) == 0 &&
                        m == 0) {
                        pressKey(rule.key);
                        lastCode = releaseKey(rule.key);
                        armed_[i] = 0;
                        lastFired_ = rule;
                    }
                    break;
                case EventType::KEY_TOGGLE:
                    if (armed_[i] == 1 && cancelLowerLevel(gesture, rule.threshold) == 0 &&
                        m == 0) {
                        lastCode = toggleKey(rule.key);
                        armed_[i] = 0;
                        lastFired_ = rule;
                    }
                    break;
                default:
                    break;
            }
            rule.active = 0;
        }
        result = rule.active | lastCode;
    }
    return result;
}

int32_t KeyboardEmitter::cancelLowerLevel(int32_t gesture, int32_t threshold) {
    if (lastFired_.gesture == gesture && lastFired_.threshold > threshold) {
        clearStates(gesture, true);
        lastFired_.gesture = 0;
        return 1;
    }
    return 0;
}

int32_t KeyboardEmitter::handleModifier(int32_t gesture, uint8_t key, int32_t armed,
                                        int32_t& lastCode) {
    if (isModifier(key)) {
        heldModifier_.ownerGesture = gesture;
        heldModifier_.key = key;
        if (armed == 1) {
            lastCode = pressKey(key);
            heldModifier_.held = 1;
        }
        return 1;
    }
    if (heldModifier_.held == 1 && gesture != heldModifier_.ownerGesture) {
        lastCode = releaseKey(static_cast<uint8_t>(heldModifier_.key));
        clearStates(heldModifier_.ownerGesture, true);
        heldModifier_ = HeldModifier{};
    }
    return 0;
}

void KeyboardEmitter::clearStates(int32_t gesture, bool matching) {
    for (int i = 0; i < ruleCount_; ++i) {
        if ((rules_[i].gesture == gesture) == matching) {
            rules_[i].active = 0;
            armed_[i] = 0;
        }
    }
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
    if (ruleCount_ >= kMaxRules) return false;
    KeyRule& rule = rules_[ruleCount_];
    rule = KeyRule{gesture, threshold, key, keyRel, 0, param, mode};
    repeatCountdown_[ruleCount_] = static_cast<int32_t>(param);
    ++ruleCount_;
    return true;
}

bool KeyboardEmitter::registerKey(uint8_t vk) {
    for (int i = 0; i < keyCount_; ++i) {
        if (keys_[i].vk == vk) return true;
    }
    if (keyCount_ >= kMaxKeys) return false;
    keys_[keyCount_++] = KeyEntry{vk, scanCodeOf(vk), 0};
    return true;
}

void KeyboardEmitter::resetRules() {
    for (int i = 0; i < ruleCount_; ++i) {
        rules_[i].active = 0;
        armed_[i] = 0;
    }
}

void KeyboardEmitter::resetOtherRules(int32_t gesture) {
    clearStates(gesture, false);
}

int32_t KeyboardEmitter::ruleThreshold(int32_t gesture) const {
    for (int i = 0; i < ruleCount_; ++i) {
        if (rules_[i].gesture == gesture) return rules_[i].threshold;
    }
    return 0;
}

int32_t KeyboardEmitter::ruleActive(int32_t gesture) const {
    for (int i = 0; i < ruleCount_; ++i) {
        if (rules_[i].gesture == gesture) return rules_[i].active;
    }
    return 0;
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
