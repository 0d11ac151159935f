#include "kalman/CursorSmoother.h"

#include <cmath>
#include <limits>

namespace {

// Truncation toward zero; values beyond the int32 range (which screen positions never reach)
// saturate instead of being undefined.
std::int32_t truncateToInt(double v) {
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

}  // namespace

void CursorSmoother::smoothPosition(const CursorPosition& target) {
    input_[0] = target;
    current_[0] = {target.x, target.y, 0};

    count_ = (target.x != 0 || target.y != 0) ? 1 : 0;  // (0, 0): no hand to follow
    restart_ = count_ != previousCount_ ? 1 : 0;

    if (count_ == 1) {
        Kalman2D& filter = filters_[0];
        if (restart_ == 1) {
            filter.startAt(current_[0].x, current_[0].y);
        } else {
            filter.track(current_[0].x, current_[0].y);
        }
        const auto& state = filter.getState();
        output_[0].x = truncateToInt(state(1));
        output_[0].y = truncateToInt(state(2));
    }
    previousCount_ = count_;
}

std::optional<CursorPosition> CursorSmoother::smooth(std::int32_t x, std::int32_t y) {
    smoothPosition({x, y, 0});
    if (count_ == 0) {
        return std::nullopt;
    }
    return output_[0];
}
