// The point two-hand gestures are measured from: taken once both hands have
// been seen for 30 frames, held level and at about the same depth, and kept
// until no hand is seen.
#pragma once

#include <array>
#include <cstdint>

namespace gesture {

class TwoHandReference {
  public:
    // Two-hand frames before each attempt, and how level the hands must be
    // for an attempt to take a new candidate (mm, exclusive).
    static constexpr int32_t kFramesBeforeAttempt = 30;
    static constexpr int32_t kMaxLevelDy = 70;
    static constexpr int32_t kMaxLevelDz = 120;

    // One two-hand frame: centre of the hands, the midpoint's depth and the
    // raw differences between the hands. Returns 1 when a new candidate was
    // taken this frame. Prints the reference whenever an attempt is made.
    int32_t update(float centreX, float centreY, float midpointZ, int32_t dy, int32_t dz);
    // Forgets the reference, the candidate and the frame count.
    void clear();

    bool isSet() const { return reference_[0] != 0.0f; }
    float x() const { return reference_[0]; }
    float y() const { return reference_[1]; }
    float z() const { return reference_[2]; }
    int32_t frameCounter() const { return counter_; }

  private:
    std::array<float, 3> reference_{};
    std::array<float, 3> candidate_{};
    int32_t counter_ = 0;
};

}  // namespace gesture
