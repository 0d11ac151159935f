// The pictures' file format: 128 x 128 Windows bitmaps, 24 bits per pixel,
// uncompressed: a 14-byte file header, a 40-byte BITMAPINFOHEADER and 49152
// bytes of pixel rows (bottom row first, blue-green-red, each row 384 bytes).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/Picture.h"

namespace feedback {

inline constexpr int kBmpFileHeaderSize = 14;
inline constexpr int kBmpInfoHeaderSize = 40;
inline constexpr int kBmpRowSize = platform::kPictureSide * 3;  // already a multiple of 4
inline constexpr int kBmpImageSize = kBmpRowSize * platform::kPictureSide;
inline constexpr int kBmpFileSize = kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpImageSize;

// The file bytes of a picture.
std::vector<uint8_t> encodeBmp(const platform::PicturePixels& pixels);

// Reads a 128 x 128 24-bit uncompressed bottom-up bitmap into `pixels`.
// Returns false, leaving `pixels` as it was, for anything else or for a file
// too short for what its headers promise.
bool decodeBmp(std::span<const uint8_t> file, platform::PicturePixels& pixels);

}  // namespace feedback
