#include "app/tracker/Background.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tracker {

namespace {

// All ones when `on`, else zero: selections by mask keep the loop below free of branches.
uint16_t mask(bool on) {
    return static_cast<uint16_t>(-static_cast<int>(on));
}

}  // namespace

void Background::configure(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    cellsX_ = (width_ + 1) / 2;
    cellsY_ = (height_ + 1) / 2;
    const auto cells = static_cast<size_t>(cellsX_) * static_cast<size_t>(cellsY_);
    farthest_.assign(cells, 0);
    last_.assign(cells, 0);
    settled_.assign(cells, 0);
    counting_.assign(static_cast<size_t>(cellsX_), 1);
}

void Background::update(const DepthView& frame, const PixelBox* keep, int keepCount) {
    if (frame.data == nullptr) return;
    // The boxes to keep, in cells: their counts may restart but not grow.
    std::array<PixelBox, kMaxKept> boxes{};
    int boxCount = 0;
    for (int b = 0; b < keepCount && boxCount < kMaxKept; ++b) {
        const PixelBox c{std::max(0, keep[b].u0 / 2), std::max(0, keep[b].v0 / 2),
                         std::min(cellsX_, keep[b].u1 / 2 + 1),
                         std::min(cellsY_, keep[b].v1 / 2 + 1)};
        if (c.u0 < c.u1 && c.v0 < c.v1) boxes[static_cast<size_t>(boxCount++)] = c;
    }
    // The cells whose pixel (2 i, 2 j) lies in the frame's window.
    const int i0 = (std::max(0, frame.originX) + 1) / 2;
    const int j0 = (std::max(0, frame.originY) + 1) / 2;
    const int i1 = std::min(cellsX_, (frame.originX + frame.width + 1) / 2);
    const int j1 = std::min(cellsY_, (frame.originY + frame.height + 1) / 2);
    if (i1 <= i0) return;
    for (int j = j0; j < j1; ++j) {
        const uint16_t* in = frame.data +
                             static_cast<std::ptrdiff_t>(2 * j - frame.originY) * frame.stride +
                             (2 * i0 - frame.originX);
        const size_t row =
            static_cast<size_t>(j) * static_cast<size_t>(cellsX_) + static_cast<size_t>(i0);
        uint16_t* far = farthest_.data() + row;
        uint16_t* last = last_.data() + row;
        uint16_t* settled = settled_.data() + row;
        const int n = i1 - i0;
        // `counting_` is all ones between rows; the boxes crossing this row zero their spans.
        auto markBoxes = [&](uint16_t value) {
            for (int b = 0; b < boxCount; ++b) {
                const PixelBox& c = boxes[static_cast<size_t>(b)];
                if (j < c.v0 || j >= c.v1) continue;
                std::fill(counting_.begin() + c.u0, counting_.begin() + c.u1, value);
            }
        };
        markBoxes(0);
        const uint16_t* counts = counting_.data() + i0;
        // Without branches, so that it vectorises: a pixel takes the nearer of its last two
        // readings as reached when they agree within the noise and it is farther than what it
        // had; the count of frames that saw the farthest reading again restarts when something
        // went away and showed what lies behind it.
        for (int k = 0; k < n; ++k) {
            const uint16_t z = in[2 * k];
            const uint16_t before = last[k];
            const uint16_t held = z < before ? z : before;
            const uint16_t other = z < before ? before : z;
            const auto spread = static_cast<uint16_t>(other - held);
            const uint16_t tol = toleranceAt(held);
            const uint16_t f = far[k];
            const uint16_t count = settled[k];
            const uint16_t agree = mask((held != 0) & (spread <= tol));
            const uint16_t farther = agree & mask(held > f);
            const uint16_t revealed = farther & mask(static_cast<uint16_t>(held - f) > tol);
            const uint16_t again =
                agree & mask((held >= f) | (static_cast<uint16_t>(f - held) <= tol));
            far[k] = static_cast<uint16_t>((held & farther) | (f & ~farther));
            const auto step = static_cast<uint16_t>(again & mask(count < kSettled) & counts[k]);
            settled[k] = static_cast<uint16_t>((count + step) & ~revealed);
            last[k] = z;
        }
        markBoxes(1);
    }
}

}  // namespace tracker
