// Turns mouse rules into button events at the cursor and into cursor motion.
// Rule logic mirrors the keyboard emitter's (same result bits, and the same
// RuleTable for arming, repeats and the highest-threshold rule), without
// modifiers, plus three event types that act only on the cursor worker's
// hold pulse. Motion is computed here and handed to the CursorThread, which
// smooths it and moves the cursor.
//
// M_WHEEL: its button-down is one wheel notch toward the user (scrolls the
// content down, X button 5); its button-up sends a record without flags.
#pragma once

#include <cstdint>
#include <memory>

#include "input/CursorThread.h"
#include "input/KeyboardEmitter.h"
#include "input/RuleTable.h"
#include "input/ScreenMapping.h"
#include "platform/Desktop.h"

using MouseRule = KeyRule;

struct ButtonEntry {
    uint8_t code = 0;
    int32_t upFlags = 0;
    int32_t downFlags = 0;
    int32_t down = 0;
};

class MouseEmitter {
  public:
    static constexpr int kMaxRules = RuleTable::kMaxRules;
    static constexpr int kMaxButtons = 10;

    explicit MouseEmitter(platform::Desktop& desktop);
    ~MouseEmitter();
    MouseEmitter(const MouseEmitter&) = delete;
    MouseEmitter& operator=(const MouseEmitter&) = delete;

    int32_t handleGesture(int32_t x, int32_t y, int32_t gesture, int32_t value);
    int32_t handleGestureAtCursor(int32_t gesture, int32_t value, int16_t kind);
    int32_t buttonDown(int32_t x, int32_t y, uint8_t code);
    int32_t buttonUp(int32_t x, int32_t y, uint8_t code);
    int32_t toggleButton(uint8_t code);
    int32_t moveCursor(int32_t x, int32_t y, uint8_t code, int32_t value);
    // Program exit: lifts every held button silently, then stops the worker.
    void releaseAllButtons();
    void resetAndReleaseAllButtons();
    bool addRule(int32_t gesture, int32_t threshold, uint8_t key, float param, int32_t mode);
    bool registerButton(uint8_t code);
    // Maps the screen from the first HAND_MOVE and HAND_HOLD rules (logging
    // the mapping) and starts the cursor worker with its settings.
    void configureScreenMapping(int32_t sensorWidth, int32_t sensorHeight);
    void resetRules() { rules_.resetAll(); }
    void resetOtherRules(int32_t gesture) { rules_.clearStates(gesture, false); }
    // The first rule's threshold; -1 for a gesture without mouse rules, so
    // that without a HAND_MOVE rule every speed from 0 up moves fast.
    int32_t ruleThreshold(int32_t gesture) const { return rules_.threshold(gesture, -1); }
    int32_t ruleActive(int32_t gesture) const { return rules_.active(gesture); }
    const char* buttonName(int32_t code);

    int32_t ruleCount() const { return rules_.count(); }
    int32_t buttonCount() const { return buttonCount_; }
    const MouseRule& rule(int i) const { return rules_.rule(i); }
    const ButtonEntry& button(int i) const { return buttons_[i]; }
    bool isDown(uint8_t code) const;

    // The cursor worker, borrowed: idle until the screen is mapped, which
    // starts it with the mapping's settings; stopped by releaseAllButtons.
    CursorThread& cursor() { return *cursor_; }
    const CursorThread& cursor() const { return *cursor_; }
    // The last screen mapping (the defaults before the first).
    const ScreenMapping& mapping() const { return mapping_; }
    // The last target handed to the worker by a button's M_MOVE path.
    platform::ScreenPoint lastPushed() const { return {lastPushedX_, lastPushedY_}; }

  private:
    ButtonEntry* findButton(uint8_t code);
    void send(const ButtonEntry& entry, bool up);
    // buttonDown (down) and buttonUp.
    int32_t setButton(int32_t x, int32_t y, uint8_t code, bool down);
    // The M_MOVE path of buttonDown and buttonUp.
    void moveToward(int32_t x, int32_t y);

    platform::Desktop& desktop_;
    std::unique_ptr<CursorThread> cursor_;
    ScreenMapping mapping_;
    int32_t armedX_ = 0;
    int32_t armedY_ = 0;
    int32_t lastPushedX_ = 0;
    int32_t lastPushedY_ = 0;
    RuleTable rules_;
    ButtonEntry buttons_[kMaxButtons]{};
    int32_t buttonCount_ = 0;
    char nameBuffer_[50]{};
};
