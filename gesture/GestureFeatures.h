// What one frame's hand positions boil down to before any gesture is decided.
// Filled by GestureManager::computeFeatures; the one-hand recogniser adds
// subMode and edge.
#pragma once

#include <cstdint>

namespace gesture {

// Stroke classes of Trajectory::classifyStroke.
namespace StrokeClass {
enum : int32_t {
    HORIZONTAL = 1,
    VERTICAL = 2,
    CIRCULAR_MAX_AFTER_MIN = 3,
    CIRCULAR = 4,
    DEPTH = 5,
    NONE = 1011,
};
}

// Dominant directions of Trajectory::analyseMotion (y grows downward, z away
// from the sensor).
namespace Direction {
enum : int32_t { NONE = 0, RIGHT = 1, LEFT = 2, DOWN = 3, UP = 4, AWAY = 5, TOWARDS = 6 };
}

struct GestureFeatures {
    float holdDeltaX = 0.0f;   // hold point x - hand x (> 0: hand left of it)
    float holdDeltaY = 0.0f;   // hold point y - hand y (> 0: hand above it)
    float holdDeltaZ = 0.0f;   // hand z - hold point z (< 0: hand in front of it)
    float handsDeltaX = 0.0f;  // point 1 x - point 0 x
    float handsDeltaY = 0.0f;  // right hand y - left hand y
    float handsDeltaZ = 0.0f;  // right hand z - left hand z
    float refDeltaY = 0.0f;    // reference y - centre y (> 0: hands above it)
    float refDeltaZ = 0.0f;    // centre z - reference z (< 0: hands in front of it)
    int32_t holding = 0;
    int32_t subMode = 0;
    int32_t strokeClass = StrokeClass::NONE;
    int32_t edge = 0;
    int32_t referenceSet = 0;
    int32_t oneHandMode = 0;
    int32_t twoHandMode = 0;
    float speed = 0.0f;             // cm/s in the x-y plane
    float peakAcceleration = 0.0f;  // cm/s^2, largest component
    int32_t direction = Direction::NONE;
    int32_t valid = 0;
};

}  // namespace gesture
