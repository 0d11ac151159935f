// Turns keyboard rules into key presses and releases. Each time a recogniser
// reports a measure for a gesture, the gesture's rules decide whether a key
// goes down, comes up, is clicked, repeated or toggled. Every key event is
// one record sent through the Desktop and one log line on standard output.
#pragma once

#include <cstdint>

#include "input/RuleTable.h"
#include "platform/Desktop.h"

struct KeyEntry {
    uint8_t vk = 0;
    uint8_t scanCode = 0;
    int32_t down = 0;
};

// Result bits of handleGesture.
inline constexpr int32_t kResultActive = 1;
inline constexpr int32_t kResultPressed = 2;
inline constexpr int32_t kResultReleased = 4;
inline constexpr int32_t kResultFired = kResultPressed | kResultReleased;

class KeyboardEmitter {
  public:
    static constexpr int kMaxRules = RuleTable::kMaxRules;
    static constexpr int kMaxKeys = 50;

    explicit KeyboardEmitter(platform::Desktop& desktop);

    int32_t handleGesture(int32_t gesture, int32_t value);
    int32_t pressKey(uint8_t vk);
    int32_t releaseKey(uint8_t vk);
    int32_t toggleKey(uint8_t vk);
    // Program exit: sends the key-up of every key still down, silently.
    void releaseAllKeys();
    // Clears every rule's state and releases every key still down, logging each.
    void resetAndReleaseAllKeys();
    // False (and nothing changed) when the table is full.
    bool addRule(int32_t gesture, int32_t threshold, uint8_t key, uint8_t keyRel, float param,
                 int32_t mode);
    // False when the key is new and the table is full.
    bool registerKey(uint8_t vk);
    void resetRules() { rules_.resetAll(); }
    void resetOtherRules(int32_t gesture) { rules_.clearStates(gesture, false); }
    // The first rule's threshold; 0 for a gesture without keyboard rules
    // (the router and the decisions report 0 as "no rule").
    int32_t ruleThreshold(int32_t gesture) const { return rules_.threshold(gesture, 0); }
    int32_t ruleActive(int32_t gesture) const { return rules_.active(gesture); }
    const char* keyName(int32_t vk);

    static uint8_t scanCodeOf(uint8_t vk);
    static bool isModifier(int32_t vk);

    int32_t ruleCount() const { return rules_.count(); }
    int32_t keyCount() const { return keyCount_; }
    const KeyRule& rule(int i) const { return rules_.rule(i); }
    const KeyEntry& key(int i) const { return keys_[i]; }
    bool isDown(uint8_t vk) const;

  private:
    struct HeldModifier {
        int32_t ownerGesture = -1;
        int32_t key = -1;
        int32_t held = 0;
    };

    int32_t handleModifier(int32_t gesture, uint8_t key, bool armed, int32_t& lastCode);
    void send(const KeyEntry& entry, bool up);

    platform::Desktop& desktop_;
    RuleTable rules_;
    KeyEntry keys_[kMaxKeys]{};
    int32_t keyCount_ = 0;
    HeldModifier heldModifier_;
    char keyNameBuffer_[50]{};
};
