#include "config/EventRouter.h"

#include "platform/Log.h"

EventRouter::EventRouter(platform::Desktop& desktop)
    : desktop_(desktop),
      keyboard_(std::make_unique<KeyboardEmitter>(desktop)),
      mouse_(std::make_unique<MouseEmitter>(desktop)) {}

EventRouter::~EventRouter() = default;

int32_t EventRouter::loadGestureConfig(const char* path, int32_t sensorWidth,
                                       int32_t sensorHeight) {
    const Configuration config =
        readConfiguration(path, [this](char c) { return desktop_.keyScan(c); });
    for (const std::string& piece : config.log) logLine("%s", piece.c_str());
    loadErrors_ = config.errors;
    applyConfiguration(config, sensorWidth, sensorHeight);
    return config.failed() ? 1 : 0;
}

void EventRouter::applyConfiguration(const Configuration& config, int32_t sensorWidth,
                                     int32_t sensorHeight) {
    oneHandMode = config.oneHandMode;
    twoHandMode = config.twoHandMode;
    feedbackSound = config.feedbackSound;
    feedbackWindow = config.feedbackWindow;
    changeModeGesture = config.changeModeGesture;
    toggleModeGesture = config.toggleModeGesture;
    for (int32_t g = 0; g < GestureId::kCapacity; ++g) {
        eventOfGesture[g] = config.eventOfGesture[static_cast<size_t>(g)];
    }
    for (const ConfiguredRule& r : config.keyboardRules) {
        keyboard_->addRule(r.gesture, r.threshold, r.key, r.keyRel, r.param, r.event);
        keyboard_->registerKey(r.key);
    }
    for (const ConfiguredRule& r : config.mouseRules) {
        mouse_->registerButton(r.key);
        mouse_->addRule(r.gesture, r.threshold, r.key, r.param, r.event);
    }
    mouse_->configureScreenMapping(sensorWidth, sensorHeight);
}

void EventRouter::releaseAll() {
    keyboard_->resetAndReleaseAllKeys();
    mouse_->resetAndReleaseAllButtons();
}

void EventRouter::releaseAllAtExit() {
    keyboard_->releaseAllKeys();
    mouse_->releaseAllButtons();
}
