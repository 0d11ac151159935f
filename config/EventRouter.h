// Owns both emitters and the configuration state, puts a parsed configuration
// (config/Configuration.h) to work in them, and routes each recognised
// gesture to the emitter that holds its rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/Configuration.h"
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

    // Reads the configuration file at `path` (readConfiguration), prints what
    // reading it logged (the opening line, the header, one echo line per
    // entry and any errors) and applies it. Returns 0 when the file loaded,
    // 1 when it could not be opened or held an error.
    int32_t loadGestureConfig(const char* path, int32_t sensorWidth, int32_t sensorHeight);
    // Takes the settings of `config`, adds its rules to the emitters and sets
    // up the screen mapping for a depth image of sensorWidth x sensorHeight
    // (logging it). Meant for a fresh router: the settings are replaced, the
    // rules are added to those already there.
    void applyConfiguration(const Configuration& config, int32_t sensorWidth, int32_t sensorHeight);

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

    // Lets go of every key and button still down, logging each release, and
    // clears every rule's state (no hands, a pause, a reload).
    void releaseAll();
    // Program exit: sends the key-up of every key and the button-up of every
    // button still down, silently, and stops the cursor worker.
    void releaseAllAtExit();

    // The emitters, borrowed.
    KeyboardEmitter& keyboard() { return *keyboard_; }
    const KeyboardEmitter& keyboard() const { return *keyboard_; }
    MouseEmitter& mouse() { return *mouse_; }
    const MouseEmitter& mouse() const { return *mouse_; }

    int32_t eventOfGesture[GestureId::kCapacity]{};
    int32_t oneHandMode = InputMode::KEYBOARD_MODE;
    int32_t twoHandMode = InputMode::KEYBOARD_MODE;
    int32_t changeModeGesture = 0;
    int32_t toggleModeGesture = 0;
    int32_t feedbackSound = 0;
    int32_t feedbackWindow = kDefaultFeedbackWindow;

  private:
    platform::Desktop& desktop_;
    std::unique_ptr<KeyboardEmitter> keyboard_;
    std::unique_ptr<MouseEmitter> mouse_;
    std::vector<std::string> loadErrors_;
};
