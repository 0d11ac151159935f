#include "input/RuleTable.h"

bool RuleTable::add(const KeyRule& rule) {
    if (count_ >= kMaxRules) return false;
    rules_[count_] = rule;
    repeatCountdown_[count_] = static_cast<int32_t>(rule.param);
    ++count_;
    return true;
}

int RuleTable::first(int32_t gesture) const {
    for (int i = 0; i < count_; ++i) {
        if (rules_[i].gesture == gesture) return i;
    }
    return -1;
}

void RuleTable::fired(int i) {
    armed_[i] = 0;
    lastFired_ = rules_[i];
}

bool RuleTable::repeatDue(int i) {
    const bool due = repeatCountdown_[i] == 0;
    if (due) repeatCountdown_[i] = static_cast<int32_t>(rules_[i].param);
    --repeatCountdown_[i];
    return due;
}

int32_t RuleTable::cancelLowerLevel(int32_t gesture, int32_t threshold) {
    if (lastFired_.gesture == gesture && lastFired_.threshold > threshold) {
        clearStates(gesture, true);
        lastFired_.gesture = 0;
        return 1;
    }
    return 0;
}

void RuleTable::clearStates(int32_t gesture, bool matching) {
    for (int i = 0; i < count_; ++i) {
        if ((rules_[i].gesture == gesture) == matching) {
            rules_[i].active = 0;
            armed_[i] = 0;
        }
    }
}

void RuleTable::resetAll() {
    for (int i = 0; i < count_; ++i) {
        rules_[i].active = 0;
        armed_[i] = 0;
    }
}

int32_t RuleTable::threshold(int32_t gesture, int32_t none) const {
    const int i = first(gesture);
    return i >= 0 ? rules_[i].threshold : none;
}

int32_t RuleTable::active(int32_t gesture) const {
    const int i = first(gesture);
    return i >= 0 ? rules_[i].active : 0;
}
