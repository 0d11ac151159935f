// The rules of one emitter and their state: the table both emitters keep, in
// the order the configuration gave the rules. Each rule can be active (its
// measure is at or above the threshold), armed (a click or toggle fires when
// the measure falls back) and counting down to its next multi-click repeat.
// The last rule that fired lets a lower rule of the same gesture stand back
// (cancelLowerLevel), so that a gesture fires only its highest threshold.
#pragma once

#include <cstdint>

struct KeyRule {
    int32_t gesture = 0;
    int32_t threshold = 0;
    uint8_t key = 0;
    uint8_t keyRel = 0;
    int32_t active = 0;
    float param = 0.0f;
    int32_t mode = 0;
};

class RuleTable {
  public:
    static constexpr int kMaxRules = 50;

    // False (and nothing changed) when the table is full. The repeat
    // countdown starts at the rule's param.
    bool add(const KeyRule& rule);

    int32_t count() const { return count_; }
    KeyRule& rule(int i) { return rules_[i]; }
    const KeyRule& rule(int i) const { return rules_[i]; }
    // The index of the first rule of `gesture`, or -1.
    int first(int32_t gesture) const;

    bool armed(int i) const { return armed_[i] == 1; }
    void arm(int i) { armed_[i] = 1; }
    // Rule i fired on the way back: disarmed, and remembered as the last
    // rule that fired.
    void fired(int i);
    // A multi-click rule at or above its threshold: true when it clicks now
    // (then its countdown restarts from its param); counts one frame down.
    bool repeatDue(int i);

    // 1 when the last rule that fired belongs to `gesture` and has a higher
    // threshold: the gesture's states are cleared and the memory forgotten.
    int32_t cancelLowerLevel(int32_t gesture, int32_t threshold);
    // Clears active and armed of the rules of `gesture` (matching) or of
    // every other gesture (not matching).
    void clearStates(int32_t gesture, bool matching);
    // Clears active and armed of every rule.
    void resetAll();

    // The first rule's threshold, or `none` when the gesture has no rule.
    int32_t threshold(int32_t gesture, int32_t none) const;
    // The first rule's active state, 0 when the gesture has no rule.
    int32_t active(int32_t gesture) const;

  private:
    KeyRule rules_[kMaxRules]{};
    KeyRule lastFired_{};
    int32_t repeatCountdown_[kMaxRules]{};
    int32_t armed_[kMaxRules]{};
    int32_t count_ = 0;
};
