// How hand positions map to the screen: the scales from gesture millimetres
// to pixels, the offsets of a sensor picture centred on the screen, the
// cursor's fine scale and move threshold (from the first HAND_MOVE mouse
// rule) and the hold detection of the cursor worker (from the first
// HAND_HOLD mouse rule). A pure computation, so that checking a
// configuration shows the same figures as running it.
#pragma once

#include <cstdint>

#include "platform/Desktop.h"

// The figures of a rule the mapping reads: its stored threshold and param.
struct MappingRule {
    int32_t threshold = 0;
    float param = 0.0f;
};

struct ScreenMapping {
    int32_t sensorWidth = 0;
    int32_t sensorHeight = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    float scaleX = 0.0f;
    float scaleY = 0.0f;
    float fineScaleX = 0.5f;
    float fineScaleY = 0.5f;
    int32_t moveThreshold = 10;
    int32_t holdFrames = 30;
    float holdTolerance = 10.0f;
};

// `move` and `hold` are the first HAND_MOVE and HAND_HOLD mouse rules (null
// when there is none); a threshold of -1 keeps `previous`'s move threshold
// and hold frames.
ScreenMapping computeScreenMapping(int32_t sensorWidth, int32_t sensorHeight,
                                   platform::ScreenSize screen, const MappingRule* move,
                                   const MappingRule* hold, const ScreenMapping& previous = {});

// The log line: "Sensor resolution: (w, h), Screen resulotion: (w, h)".
void logScreenMapping(const ScreenMapping& mapping);
