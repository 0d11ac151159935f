#pragma once
// CursorSmoother: smooths the stream of cursor targets with the Kalman2D model.
//
// Use (one thread only; no locking inside):
//
//     CursorSmoother smoother;                     // once, with the cursor worker
//     ...
//     smoother.smoothPosition({x, y, aux});        // for every target taken from the queue
//     if (smoother.count() == 1) {
//         const CursorPosition& out = smoother.output();   // smoothed x, y (screen pixels)
//         ...
//     }
//
// or, equivalently, `if (auto p = smoother.smooth(x, y)) use(p->x, p->y);`.
//
// The position (0, 0) means "no hand": it gives no output (count() is 0) and leaves the filter and
// output() as they were. The first position, and the first after a (0, 0), starts a new track and
// is output unchanged; every later one runs one prediction and one correction, and the output is
// the filtered position truncated toward zero. x = 0 with y ≠ 0 (or the reverse) is a position.

#include <array>
#include <cstdint>
#include <optional>

#include "kalman/Kalman2D.h"

// A cursor position as it travels through the cursor queue: x, y in screen pixels and a third
// value that the smoother carries along without interpreting it.
struct CursorPosition {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t aux = 0;
};

class CursorSmoother {
  public:
    static constexpr int kSlots = 10;  // filter and position slots; slot 0 is the one in use

    CursorSmoother() = default;

    // Smooths one target; see the header comment for what count() and output() then hold.
    void smoothPosition(const CursorPosition& target);

    // smoothPosition({x, y, 0}), giving the smoothed position, or nothing for (0, 0).
    std::optional<CursorPosition> smooth(std::int32_t x, std::int32_t y);

    // 1 if the last call had a position (and so an output), 0 if it was (0, 0) or none was made.
    std::int32_t count() const { return count_; }
    // 1 if the last call started a new track (or ended one).
    std::int32_t restarted() const { return restart_; }
    // The last smoothed position (x and y); (0, 0) before the first.
    const CursorPosition& output() const { return output_[0]; }
    // The target of the last call, third value included.
    const CursorPosition& input() const { return input_[0]; }
    // The filter of slot 0, for inspection.
    const Kalman2D& filter() const { return filters_[0]; }

  private:
    std::array<Kalman2D, kSlots> filters_;
    std::array<CursorPosition, kSlots> input_{};
    std::array<CursorPosition, kSlots> current_{};
    std::array<CursorPosition, kSlots> output_{};
    std::int32_t count_ = 0;
    std::int32_t previousCount_ = 0;
    std::int32_t restart_ = 0;
};
