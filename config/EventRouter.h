// Owns both emitters and the configuration state, loads the configuration
// file into them, and routes each recognised gesture to the emitter that
// holds its rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/Vocabulary.h"
#include "input/KeyboardEmitter.h"
#include "input/MouseEmitter.h"
#include "platform/Desktop.h"

class EventRouter {
  public:
    explicit EventRouter(platform::Desktop& desktop);
    ~EventRouter();
    EventRouter(const EventRouter&) = delete;
    EventRouter& operator=(const EventRouter&) = delete;

    // Reads the configuration file at `path`, printing the opening line, the
    // header, one echo line per entry and any errors, then sets up the screen
    // mapping for a depth image of sensorWidth x sensorHeight. Returns 0 when
    // the file loaded, 1 when it could not be opened or held an error.
    int32_t loadGestureConfig(const char* path, int32_t sensorWidth, int32_t sensorHeight);
    // Applies one setting line; -1 on a bad mode value, otherwise >= 0.
    int32_t applyModeSetting(const char* keyword, const char* value);

    // One line per error of the last load: "file:line: message 'word'".
    const std::vector<std::string>& loadErrors() const { return loadErrors_; }

    // Routing (gesture recognition calls these).
    int32_t routeGesture(int32_t gesture, int32_t value);
    int32_t routeGestureAtCursor(int32_t gesture, int32_t value, int16_t kind);
    int32_t routeMove(int32_t dx, int32_t dy, int32_t gesture, int32_t value);
    void clearAllRuleStates();
    void clearOtherRuleStates(int32_t gesture);
    int32_t gestureThreshold(int32_t gesture);
    int32_t gestureActive(int32_t gesture);

    std::unique_ptr<KeyboardEmitter> keyboardEmitter;
    std::unique_ptr<MouseEmitter> mouseEmitter;
    int32_t eventOfGesture[GestureId::kCapacity]{};
    int32_t oneHandMode = InputMode::KEYBOARD_MODE;
    int32_t twoHandMode = InputMode::KEYBOARD_MODE;
    int32_t changeModeGesture = 0;
    int32_t toggleModeGesture = 0;
    int32_t feedbackSound = 0;
    int32_t feedbackWindow = kDefaultFeedbackWindow;

  private:
    class Reader;
    void handleRuleLine(Reader& reader, const std::string& gestureWord, int line);
    void reportError(const char* what, const std::string& word, int line);

    platform::Desktop& desktop_;
    std::string path_;
    bool failed_ = false;
    bool stopReading_ = false;
    std::vector<std::string> loadErrors_;
};
