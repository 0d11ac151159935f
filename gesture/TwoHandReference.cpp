#include "gesture/TwoHandReference.h"

#include <cstdlib>

#include "platform/Log.h"

namespace gesture {

namespace {

constexpr int32_t kCounterWrap = 10000;
constexpr float kReferenceBehind = 200.0f;  // mm the reference sits in front of the midpoint

}  // namespace

int32_t TwoHandReference::update(float centreX, float centreY, float midpointZ, int32_t dy,
                                 int32_t dz) {
    counter_ = counter_ > kCounterWrap ? 0 : counter_ + 1;

    int32_t taken = 0;
    const bool missing = reference_[0] == 0.0f || reference_[1] == 0.0f || reference_[2] == 0.0f;
    if (missing && counter_ > kFramesBeforeAttempt) {
        if (std::abs(dy) < kMaxLevelDy && std::abs(dz) < kMaxLevelDz) {
            candidate_ = {centreX, centreY, midpointZ - kReferenceBehind};
            taken = 1;
        }
        // Hands that are not level fall back on the last candidate taken.
        reference_ = candidate_;
        counter_ = 0;
        logLine("\n>   Two hands : Reference = (%.2f, %.2f, %.2f)\n",
                static_cast<double>(reference_[0]), static_cast<double>(reference_[1]),
                static_cast<double>(reference_[2]));
    }
    return taken;
}

void TwoHandReference::clear() {
    reference_.fill(0.0f);
    candidate_.fill(0.0f);
    counter_ = 0;
}

}  // namespace gesture
