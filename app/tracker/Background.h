// What the sensor sees behind everything that moves: for every other pixel of every other row
// (a cell of 2 x 2 pixels), the farthest reading that held for two frames in a row. A desk, a wall,
// a shelf, or a seated body that has not moved is its own background; a hand is in front of it as
// soon as it has once moved away from where it is now, since the pixel then saw what lies behind
// it.
//
// A reading counts as background when it lies within the sensor's depth noise of that pixel's
// farthest reading (`tolerance`). Two frames must agree before a reading is taken as the
// farthest, so a single far outlier does not move it. Nothing is ever forgotten: an object that
// comes nearer and stays (a chair pushed closer) is simply never background.
//
// A pixel's farthest reading counts once it has been seen again in `kSettled` frames.
//
// Allocated by configure(); update() allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/tracker/TrackerTypes.h"

namespace tracker {

class Background {
  public:
    // Forgets everything; `width` x `height` is the full sensor image.
    void configure(int width, int height);
    // Sensor pixels [u0, u1] x [v0, v1].
    struct PixelBox {
        int u0 = 0;
        int v0 = 0;
        int u1 = -1;
        int v1 = -1;
    };
    static constexpr int kMaxKept = kMaxHands;
    // Takes in one frame (a window of the sensor image, see DepthView). Nothing inside the
    // `keep` boxes (the tracked hands, at most kMaxKept) becomes background in this frame, so a
    // tracked hand held still never does, even where its pixels never saw what is behind it.
    void update(const DepthView& frame, const PixelBox* keep = nullptr, int keepCount = 0);

    // Depth noise (mm) within which a reading at depth `z` counts as the same surface: about four
    // disparity steps of a structured-light sensor, at least 24 mm.
    static int tolerance(int z) { return toleranceAt(clampDepth(z)); }
    // True when the reading `z` (mm) at sensor pixel (u, v) is the background there.
    bool isBackground(int u, int v, int z) const {
        if (u < 0 || v < 0 || u >= width_ || v >= height_ || z <= 0) return false;
        const std::size_t at =
            static_cast<std::size_t>(v >> 1) * static_cast<std::size_t>(cellsX_) +
            static_cast<std::size_t>(u >> 1);
        const int far = farthest_[at];
        return far > 0 && settled_[at] >= kSettled && z >= far - tolerance(far);
    }

    // Frames in which a pixel's farthest reading must be seen again before it counts: what was
    // in view since the start and never moved (a hand held still then) becomes background only
    // after a while.
    static constexpr uint16_t kSettled = 30;

  private:
    static uint16_t clampDepth(int z) {
        return static_cast<uint16_t>(z < 0 ? 0 : (z > 65535 ? 65535 : z));
    }
    // 24 mm + z * z / 131072, the square taken as the high half of a 16-bit multiply (which
    // vectorises as one instruction).
    static uint16_t toleranceAt(uint16_t z) {
        const auto high = static_cast<uint16_t>((static_cast<uint32_t>(z) * z) >> 16U);
        return static_cast<uint16_t>(24U + (high >> 1U));
    }

    int width_ = 0;
    int height_ = 0;
    int cellsX_ = 0;  // cells per row: pixel (2 i, 2 j) stands for cell (i, j)
    int cellsY_ = 0;
    std::vector<uint16_t> farthest_;  // 0 = nothing seen yet
    std::vector<uint16_t> last_;      // the previous frame's readings
    std::vector<uint16_t> counting_;  // per cell of a row: 1 where counts may grow, 0 in a box
    std::vector<uint16_t> settled_;   // frames the farthest reading was seen again, to kSettled
};

}  // namespace tracker
