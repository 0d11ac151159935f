#include "sim/Noise.h"

namespace sim::noise {

// z = 9000 / (7.5 - m), m = ((s - 800) / 4 - 0.375) * 0.1042, solved both ways.
float shiftOfDepth(float z) {
    const float m = 7.5f - 9000.0f / z;
    return 800.0f + 4.0f * (m / 0.1042f + 0.375f);
}

float depthOfShift(float s) {
    const float m = ((s - 800.0f) / 4.0f - 0.375f) * 0.1042f;
    return m < 7.5f ? 9000.0f / (7.5f - m) : 0.0f;
}

Random::Random(uint64_t seed) {
    uint64_t z = seed + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    state_ = z ? z : 0x2545F4914F6CDD1DULL;
}

}  // namespace sim::noise
