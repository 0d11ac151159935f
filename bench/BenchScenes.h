// The frame loop's settings for a benchmark scene.
#pragma once

#include <string>

#include "app/FrameLoop.h"

// The scene `scene` with the configuration `config`, at `speed` (0: no-drop
// pacing, so frame i of the loop is frame i of the scene).
inline FrameLoop::Settings sceneSettings(const std::string& scene, const std::string& config,
                                         float speed = 0.0f) {
    FrameLoop::Settings s;
    s.device = scene;
    s.configPath = config;
    s.playbackSpeed = speed;
    return s;
}
