// The eight flags the gesture manager writes at the end of every frame for the
// feedback picture, the beeps and the overlay.
#pragma once

#include <cstdint>

namespace gesture {

struct FeedbackState {
    int32_t mode = 0;           // one-hand mode at the start of the frame (1 keyboard, 2 mouse)
    int32_t twoHandBox = 0;     // two-hand mode at the start of the frame
    int32_t anchorFollows = 0;  // the hand holds still this frame
    int32_t mouseActive = 0;    // gesture sub-mode after the one-hand recogniser ran
    int32_t active = 0;         // a recogniser could run this frame
    int32_t twoHandDot = 0;     // two hands and a two-hand rule is active
    int32_t singleBeep = 0;     // hold point just taken, or gesture sub-mode just entered
    int32_t doubleBeep = 0;     // two-hand reference just taken
    bool operator==(const FeedbackState&) const = default;
};

}  // namespace gesture
