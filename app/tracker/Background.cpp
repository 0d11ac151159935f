#include "app/tracker/Background.h"

#include <algorithm>
#include <cstddef>

namespace tracker {

void Background::configure(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    const auto pixels = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    farthest_.assign(pixels, 0);
    last_.assign(pixels, 0);
    settled_.assign(pixels, 0);
}

void Background::update(const DepthView& frame) {
    if (frame.data == nullptr) return;
    const int u0 = std::max(0, frame.originX);
    const int v0 = std::max(0, frame.originY);
    const int u1 = std::min(width_, frame.originX + frame.width);
    const int v1 = std::min(height_, frame.originY + frame.height);
    for (int v = v0; v < v1; ++v) {
        const uint16_t* in = frame.data + static_cast<std::ptrdiff_t>(v - frame.originY) *
                                              frame.stride +
                             (u0 - frame.originX);
        const size_t row = static_cast<size_t>(v) * static_cast<size_t>(width_);
        uint16_t* far = farthest_.data() + row + u0;
        uint16_t* last = last_.data() + row + u0;
        uint8_t* settled = settled_.data() + row + u0;
        const int n = u1 - u0;
        // Branch-free so that it vectorises: a pixel takes the nearer of its last two readings
        // as reached when they agree within the noise and it is farther than what it had;
        // the count of frames that saw the farthest reading again restarts when it moves.
        for (int k = 0; k < n; ++k) {
            const uint16_t z = in[k];
            const uint16_t before = last[k];
            const uint16_t held = z < before ? z : before;
            const uint16_t other = z < before ? before : z;
            const auto spread = static_cast<uint16_t>(other - held);
            const auto tol = static_cast<uint16_t>(24U + (squareHigh(held) >> 1U));
            const uint16_t f = far[k];
            const bool agree = held != 0 && spread <= tol;
            const bool farther = agree && held > f;
            // Something went away and showed what lies behind it: the count starts again.
            const bool revealed = farther && held > f + tol;
            // Seen again: the reading reaches the farthest one within the noise.
            const bool again = agree && held + tol >= f;
            const uint8_t count = settled[k];
            far[k] = farther ? held : f;
            settled[k] = revealed ? uint8_t{0}
                                  : static_cast<uint8_t>(count + (again && count < 255 ? 1 : 0));
            last[k] = z;
        }
    }
}

}  // namespace tracker
