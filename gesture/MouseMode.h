// The one-hand mouse mode's state: whether the hand steers the pointer or
// the next stroke is a gesture (the gesture sub-mode), whether a drop is
// armed (a ONE_HAND_DOWN rule pressed a button, so the hand drags) and
// whether a down-stroke click froze the pointer until the hand next rests.
// The recogniser moves it through named steps; reset() is the one way back
// to a fresh start (no hands, a newly loaded configuration). See
// docs/gestures.md for the diagram.
#pragma once

#include <cstdint>

namespace gesture {

class MouseMode {
  public:
    enum class State : uint8_t {
        POINTER,          // the hand steers the pointer
        GESTURE,          // gesture sub-mode: the next stroke is judged as a gesture
        DRAGGING,         // pointer, with the drop armed
        FROZEN,           // pointer frozen after a down-stroke click released the drop
        FROZEN_DRAGGING,  // pointer frozen, the click did not release: the drop stays armed
    };

    State state() const { return state_; }
    bool inGestureSubMode() const { return state_ == State::GESTURE; }
    bool dropArmed() const { return state_ == State::DRAGGING || state_ == State::FROZEN_DRAGGING; }
    bool frozen() const { return state_ == State::FROZEN || state_ == State::FROZEN_DRAGGING; }

    // The HAND_HOLD rule fired while pointing freely.
    void openGestureSubMode() {
        if (state_ == State::POINTER) state_ = State::GESTURE;
    }
    // A gesture fired: back to the pointer.
    void closeGestureSubMode() {
        if (state_ == State::GESTURE) state_ = State::POINTER;
    }
    // A down gesture pressed a button.
    void armDrop() {
        if (state_ == State::POINTER || state_ == State::GESTURE) state_ = State::DRAGGING;
        if (state_ == State::FROZEN) state_ = State::FROZEN_DRAGGING;
    }
    // A fast down-stroke clicked at the cursor while dragging; `released`
    // when the click let go of the button.
    void freeze(bool released) {
        if (state_ == State::DRAGGING) state_ = released ? State::FROZEN : State::FROZEN_DRAGGING;
    }
    // The hand holds still: a frozen pointer follows the hand again.
    void rest() {
        if (state_ == State::FROZEN) state_ = State::POINTER;
        if (state_ == State::FROZEN_DRAGGING) state_ = State::DRAGGING;
    }
    // End of a one-hand frame: true when the gesture sub-mode opened since
    // the last one (the edge that rings the bell).
    bool gestureSubModeOpened() {
        const bool opened = inGestureSubMode() && !wasInGestureSubMode_;
        wasInGestureSubMode_ = inGestureSubMode();
        return opened;
    }
    void reset() {
        state_ = State::POINTER;
        wasInGestureSubMode_ = false;
    }

  private:
    State state_ = State::POINTER;
    bool wasInGestureSubMode_ = false;
};

}  // namespace gesture
