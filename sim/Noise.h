// The structured-light noise model of the virtual depth sensor.
//
// Depth comes from disparity, so the model works in disparity units: the raw
// shift value s of a PrimeSense-style sensor, with depth
//   z = 9000 / (7.5 - m) mm,  m = ((s - 800) / 4 - 0.375) * 0.1042,
// one step of s being dz = 2.89e-6 z^2 mm (2.9 mm at 1 m, 26 mm at 3 m).
// Each pixel's ideal depth becomes a continuous s, gets Gaussian noise of
// kShiftSigma steps and is rounded to a whole step; the result has a standard
// deviation of about kAxialSigmaPerZ2 * z^2 (1.4 mm at 1 m, 5.7 mm at 2 m,
// 12.8 mm at 3 m), the figure measured on such sensors.
//
// Besides that, in Renderer: projector shadows (the projector sits
// kProjectorBaseline mm to the right of the camera, +x, so a near object
// leaves a band without depth on its left in the image), drop-outs and
// one-pixel lateral jitter at depth edges, and no depth outside the working
// range [kMinRange, kMaxRange].
#pragma once

#include <cstdint>

namespace sim::noise {

inline constexpr float kProjectorBaseline = 75.0f;     // mm, projector at +x
inline constexpr float kMinRange = 500.0f;             // mm
inline constexpr float kMaxRange = 5000.0f;            // mm
inline constexpr float kShiftSigma = 0.4f;             // Gaussian part, disparity steps
inline constexpr double kAxialSigmaPerZ2 = 1.425e-6;   // total sigma / z^2 (1/mm)
inline constexpr double kStepPerZ2 = 2.894e-6;         // one disparity step / z^2 (1/mm)
inline constexpr float kEdgeDropProbability = 0.35f;   // an edge pixel reads 0
inline constexpr float kEdgeJitterProbability = 0.5f;  // otherwise takes a neighbour's depth
inline constexpr int kMaxShift = 2047;

// Expected standard deviation and quantisation step of a reading at depth z (mm).
inline double axialSigma(double z) {
    return kAxialSigmaPerZ2 * z * z;
}
inline double disparityStep(double z) {
    return kStepPerZ2 * z * z;
}

// Continuous shift value of depth z (mm) and the depth of a whole shift value.
float shiftOfDepth(float z);
float depthOfShift(float s);

// A depth edge: neighbouring ideal depths differ by more than this (mm).
inline float edgeJump(float z) {
    return 30.0f + 0.03f * z;
}

// Small fast deterministic generator (splitmix64 seeding, xorshift64*).
class Random {
  public:
    explicit Random(uint64_t seed);
    uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    // Uniform in [0, 1).
    float uniform() { return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f); }
    // Approximately standard normal (sum of four uniforms, variance 1).
    float gaussian() {
        const uint64_t r = next();
        const float sum = static_cast<float>((r & 0xFFFF) + ((r >> 16) & 0xFFFF) +
                                             ((r >> 32) & 0xFFFF) + (r >> 48));
        return (sum * (1.0f / 65536.0f) - 2.0f) * 1.7320508f;
    }

  private:
    uint64_t state_;
};

}  // namespace sim::noise
