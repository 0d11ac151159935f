// A picture of the feedback display as plain pixels, shared by the feedback
// logic and the window backends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

// Pictures are square, this many pixels a side.
inline constexpr int kPictureSide = 128;

// One picture: 0x00RRGGBB per pixel, row 0 at the top, left to right.
using PicturePixels = std::array<uint32_t, kPictureSide * kPictureSide>;

// Where pixel (x, y) sits in a PicturePixels.
inline size_t pixelIndex(int x, int y) {
    return static_cast<size_t>(y) * kPictureSide + static_cast<size_t>(x);
}

// A 64-bit FNV-1a digest of a picture's pixels, so that recorded draws can be
// matched against known pictures without keeping copies.
inline uint64_t pictureFingerprint(const PicturePixels& pixels) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const uint32_t pixel : pixels) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (pixel >> shift) & 0xFFu;
            hash *= 0x100000001b3ull;
        }
    }
    return hash;
}

}  // namespace platform
