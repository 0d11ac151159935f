// The configuration file as data: reading it turns text into settings, rules
// and the log the loader prints, and touches nothing else (no emitter, no
// cursor worker, no output). EventRouter::applyConfiguration puts a parsed
// configuration to work; `-check` and the fuzzer use the parser alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/Vocabulary.h"
#include "input/ScreenMapping.h"
#include "platform/Desktop.h"

// One rule as an emitter stores it: the threshold scaled by 10, the param
// converted to frames where the event type counts frames.
struct ConfiguredRule {
    int32_t gesture = 0;
    int32_t threshold = 0;
    uint8_t key = 0;
    uint8_t keyRel = 0;  // keyboard rules only
    float param = 0.0f;
    int32_t event = 0;
};

struct Configuration {
    static constexpr int kMaxRulesPerEmitter = 50;
    static constexpr int kMaxMouseCodes = 10;

    int32_t oneHandMode = InputMode::KEYBOARD_MODE;
    int32_t twoHandMode = InputMode::KEYBOARD_MODE;
    int32_t feedbackSound = 0;
    int32_t feedbackWindow = kDefaultFeedbackWindow;
    int32_t changeModeGesture = 0;
    int32_t toggleModeGesture = 0;
    // The event type of each gesture's last accepted rule (0: no rule).
    std::array<int32_t, GestureId::kCapacity> eventOfGesture{};
    // In file order, one per key of a line.
    std::vector<ConfiguredRule> keyboardRules;
    std::vector<ConfiguredRule> mouseRules;
    // What loading prints, piece by piece in order (each as logLine would
    // write it: "Open configuration file : …", the header, echoes, errors).
    std::vector<std::string> log;
    // One line per error: "file:line: message 'word'".
    std::vector<std::string> errors;

    bool failed() const { return !errors.empty(); }
    // Applies one setting word ("ONE_HAND_MODE", "TWO_HAND_MODE",
    // "FEEDBACK_SOUND", "FEEDBACK_WINDOW"); -1 on a bad mode value, else >= 0.
    int32_t applySetting(const char* keyword, const char* value);
    // The first mouse rule of `gesture`, or null.
    const ConfiguredRule* firstMouseRule(int32_t gesture) const;
    // The screen mapping these rules give on a fresh mouse emitter.
    ScreenMapping screenMapping(int32_t sensorWidth, int32_t sensorHeight,
                                platform::ScreenSize screen) const;
};

// `keyScan` is the character-to-key lookup of the desktop the rules are for
// (every backend uses platform::usKeyScan).
//
// The configuration text of the file `path` (named in errors): the header,
// one echo per entry and the errors, without the opening line.
Configuration parseConfiguration(std::string_view text, const std::string& path,
                                 const KeyScan& keyScan);
// Reads and parses the file at `path`, from the opening line on; a file that
// cannot be opened or read gives its error.
Configuration readConfiguration(const char* path, const KeyScan& keyScan);
