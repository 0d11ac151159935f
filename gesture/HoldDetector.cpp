#include "gesture/HoldDetector.h"

#include <algorithm>
#include <cstdlib>

namespace gesture {

namespace {

constexpr int32_t kMaxStep = 25;         // mm per axis between two samples
constexpr float kMaxPlanarSpread = 100;  // mm^2 (variance) on x and y, inclusive
constexpr float kMaxDepthSpread = 100;   // mm^2 on z, exclusive

int32_t coordinate(const Point3i& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

}  // namespace

int32_t HoldDetector::recentSlot(int32_t k) const {
    const int32_t slot = index_ - k;
    return slot < 0 ? slot + length_ : slot;
}

void HoldDetector::restart() {
    index_ = 0;
    count_ = 0;
    mean_.fill(0.0f);
}

int32_t HoldDetector::detect(const Point3i& p, int32_t handsChanged, int32_t frameRate) {
    if (length_ == 0) {
        length_ = std::clamp(static_cast<int32_t>(frameRate * 0.2), 1, kCapacity);
    }

    index_ = index_ + 1 >= length_ ? 0 : index_ + 1;
    count_ = std::min(count_ + 1, length_);

    const bool smallStep = std::abs(p.x - previous_.x) < kMaxStep &&
                           std::abs(p.y - previous_.y) < kMaxStep &&
                           std::abs(p.z - previous_.z) < kMaxStep;
    if (smallStep) {
        for (int axis = 0; axis < 3; ++axis) {
            const int32_t value = coordinate(p, axis);
            if (state_ == kHolding) {
                // The window is full: slide the mean past the oldest sample.
                const int32_t oldest = coordinate(window_[index_], axis);
                // A whole-millimetre step, as configurations were tuned with.
                const int32_t step = (value - oldest) / count_;
                mean_[axis] += static_cast<float>(step);
            } else {
                mean_[axis] =
                    (static_cast<float>(count_ - 1) * mean_[axis] + static_cast<float>(value)) /
                    static_cast<float>(count_);
            }
        }
        window_[index_] = p;

        std::array<float, 3> spread{};
        for (int32_t k = 0; k < count_; ++k) {
            const Point3i& sample = window_[recentSlot(k)];
            for (int axis = 0; axis < 3; ++axis) {
                const float d = static_cast<float>(coordinate(sample, axis)) - mean_[axis];
                spread[axis] += d * d;
            }
        }
        for (float& s : spread) {
            s /= static_cast<float>(count_);
        }

        if (spread[0] <= kMaxPlanarSpread && spread[1] <= kMaxPlanarSpread &&
            spread[2] < kMaxDepthSpread) {
            state_ = count_ >= length_ ? kHolding : kSettling;
        } else {
            state_ = kRestarted;
        }
    } else {
        state_ = kRestarted;
    }

    if (handsChanged == 1) {
        state_ = kRestarted;
    }
    if (state_ == kRestarted) {
        restart();
    }
    previous_ = p;
    return state_ == kHolding ? 1 : 0;
}

}  // namespace gesture
