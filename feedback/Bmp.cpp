#include "feedback/Bmp.h"

namespace feedback {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

uint32_t get16(std::span<const uint8_t> in, size_t at) {
    return in[at] | (static_cast<uint32_t>(in[at + 1]) << 8);
}

uint32_t get32(std::span<const uint8_t> in, size_t at) {
    return get16(in, at) | (get16(in, at + 2) << 16);
}

}  // namespace

std::vector<uint8_t> encodeBmp(const platform::PicturePixels& pixels) {
    constexpr int side = platform::kPictureSide;
    std::vector<uint8_t> out;
    out.reserve(kBmpFileSize);
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    put32(out, kBmpFileSize);
    put32(out, 0);  // reserved
    put32(out, kBmpFileHeaderSize + kBmpInfoHeaderSize);
    // BITMAPINFOHEADER
    put32(out, kBmpInfoHeaderSize);
    put32(out, side);  // width
    put32(out, side);  // height, positive: bottom row first
    put16(out, 1);     // planes
    put16(out, 24);    // bits per pixel
    put32(out, 0);     // BI_RGB
    put32(out, kBmpImageSize);
    put32(out, 2835);  // 72 dots per inch
    put32(out, 2835);
    put32(out, 0);  // colours used
    put32(out, 0);  // important colours
    for (int y = side - 1; y >= 0; --y) {
        for (int x = 0; x < side; ++x) {
            const uint32_t rgb = pixels[platform::pixelIndex(x, y)];
            out.push_back(static_cast<uint8_t>(rgb));
            out.push_back(static_cast<uint8_t>(rgb >> 8));
            out.push_back(static_cast<uint8_t>(rgb >> 16));
        }
    }
    return out;
}

bool decodeBmp(std::span<const uint8_t> file, platform::PicturePixels& pixels) {
    constexpr int side = platform::kPictureSide;
    constexpr size_t headers = kBmpFileHeaderSize + kBmpInfoHeaderSize;
    if (file.size() < headers) return false;
    if (file[0] != 'B' || file[1] != 'M') return false;
    const uint32_t offset = get32(file, 10);
    const size_t info = kBmpFileHeaderSize;
    if (get32(file, info) < static_cast<uint32_t>(kBmpInfoHeaderSize)) return false;
    const auto width = static_cast<int32_t>(get32(file, info + 4));
    const auto height = static_cast<int32_t>(get32(file, info + 8));
    if (width != side || height != side) return false;
    if (get16(file, info + 12) != 1 || get16(file, info + 14) != 24) return false;
    if (get32(file, info + 16) != 0) return false;  // compressed
    if (offset < headers || file.size() < static_cast<size_t>(offset) + kBmpImageSize) return false;
    for (int row = 0; row < side; ++row) {
        const int y = side - 1 - row;  // bottom row first
        const size_t start = offset + static_cast<size_t>(row) * kBmpRowSize;
        for (int x = 0; x < side; ++x) {
            const size_t at = start + static_cast<size_t>(x) * 3;
            pixels[platform::pixelIndex(x, y)] = file[at] |
                                                 (static_cast<uint32_t>(file[at + 1]) << 8) |
                                                 (static_cast<uint32_t>(file[at + 2]) << 16);
        }
    }
    return true;
}

}  // namespace feedback
