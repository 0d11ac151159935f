// Points of the gesture side: world points arrive as floats in millimetres;
// the recognisers work on whole millimetres in their own frame (see
// GestureManager::toGesturePoint).
#pragma once

#include <cstdint>

namespace gesture {

struct Point3f {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct Point3i {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
    bool operator==(const Point3i&) const = default;
};

}  // namespace gesture
