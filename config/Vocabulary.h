// The closed vocabularies shared by the configuration, the recognisers, the
// emitters and the feedback: gesture codes, event types, hand modes and key
// codes (input/EventCodes.h), feedback settings and key words, with the
// lookups the configuration loader uses.
#pragma once

#include <cstdint>
#include <functional>

#include "input/EventCodes.h"

namespace platform {
class Desktop;
}

// Feedback window numbers ("WINDOW_NONE", "WINDOW1".."WINDOW5").
inline constexpr int32_t kWindowNone = 0;
inline constexpr int32_t kDefaultFeedbackWindow = 4;

// Longest word of the configuration file.
inline constexpr int kMaxWordLength = 49;

// The first code in 1..49 whose name is `word`, else -1.
int32_t lookupGesture(const char* word);
// The index in 1..19 of the event name `word`, else -1 (callers add 96 to 5 and above).
int32_t lookupEventTypeIndex(const char* word);
// The stored event type of `word`: index 1..4, index + 96 for 5..13, else -1.
int32_t lookupEventType(const char* word);
// The name of a gesture code ("" for unnamed or out-of-range codes).
const char* gestureName(int32_t code);
// The key code of a key word; a single character goes through the desktop's
// character-to-key lookup; 255 when the word names no key.
uint8_t lookupKeyCode(const char* word, platform::Desktop& desktop);
// The same with the character-to-key lookup given as a function.
using KeyScan = std::function<int16_t(char)>;
uint8_t lookupKeyCode(const char* word, const KeyScan& keyScan);
// Mode word to InputMode (-1 when not a mode word).
int32_t lookupInputMode(const char* word);
