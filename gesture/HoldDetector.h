// Decides, sample by sample, whether the tracked hand is standing still: a
// window of the last W positions (W = 0.2 s of frames) whose steps stay under
// 25 mm and whose spread stays within 10 mm per axis.
#pragma once

#include <array>
#include <cstdint>

#include "gesture/Point3.h"

namespace gesture {

class HoldDetector {
  public:
    static constexpr int32_t kCapacity = 500;

    // Feeds one sample; handsChanged restarts the detector. The window length
    // is fixed from frameRate on the first call (kept within 1..kCapacity).
    // Returns 1 while the hand holds still, else 0.
    int32_t detect(const Point3i& p, int32_t handsChanged, int32_t frameRate);

    int32_t windowLength() const { return length_; }
    int32_t state() const { return state_; }
    int32_t count() const { return count_; }

  private:
    static constexpr int32_t kRestarted = -1;
    static constexpr int32_t kSettling = 0;
    static constexpr int32_t kHolding = 1;

    void restart();
    // Slot of the k-th most recent sample (k = 0 is the newest).
    int32_t recentSlot(int32_t k) const;

    std::array<Point3i, kCapacity> window_{};
    std::array<float, 3> mean_{};
    int32_t index_ = -1;
    int32_t count_ = 0;
    int32_t state_ = kRestarted;
    int32_t length_ = 0;  // 0 until the first call
    Point3i previous_{};
};

}  // namespace gesture
