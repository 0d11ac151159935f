#include "app/DepthImage.h"

#include <algorithm>
#include <cstring>

int32_t DepthFrameView::usableRows() const {
    if (data == nullptr || width <= 0 || height <= 0 || strideBytes < width * 2) return 0;
    const int64_t rowsInData =
        (static_cast<int64_t>(dataBytes) - static_cast<int64_t>(width) * 2) / strideBytes + 1;
    if (dataBytes < width * 2) return 0;
    return static_cast<int32_t>(std::min<int64_t>(height, rowsInData));
}

void DepthImage::allocate(int32_t resolutionX, int32_t resolutionY) {
    if (allocated() || resolutionX <= 0 || resolutionY <= 0) return;
    textureWidth_ = 512u * static_cast<uint32_t>((resolutionX - 1) / 512 + 1);
    textureHeight_ = 512u * static_cast<uint32_t>((resolutionY - 1) / 512 + 1);
    texture_.assign(static_cast<size_t>(textureWidth_) * textureHeight_ * 3, 0);
}

void DepthImage::clear() {
    std::fill(texture_.begin(), texture_.end(), 0);
}

void DepthImage::update(const DepthFrameView& frame) {
    std::fill(std::begin(histogram_), std::end(histogram_), 0.0f);
    const int32_t rows = frame.usableRows();
    uint32_t count = 0;
    for (int32_t y = 0; y < rows; ++y) {
        const uint16_t* row = frame.row(y);
        for (int32_t x = 0; x < frame.width; ++x) {
            const uint16_t d = row[x];
            if (d != 0 && d < kBins) {
                histogram_[d] += 1.0f;
                ++count;
            }
        }
    }
    for (int i = 1; i < kBins; ++i) histogram_[i] += histogram_[i - 1];
    if (count != 0) {
        const float r = 1.0f / static_cast<float>(count);
        for (int i = 1; i < kBins; ++i) {
            histogram_[i] =
                static_cast<float>(static_cast<int>(256.0f * (1.0f - histogram_[i] * r)));
        }
    }
    clear();
    if (!allocated()) return;
    for (int32_t y = 0; y < rows; ++y) {
        const int64_t ty = static_cast<int64_t>(frame.cropY) + y;
        if (ty < 0 || ty >= textureHeight_) continue;
        const uint16_t* row = frame.row(y);
        uint8_t* out = texture_.data() + ty * textureWidth_ * 3;
        for (int32_t x = 0; x < frame.width; ++x) {
            const uint16_t d = row[x];
            const int64_t tx = static_cast<int64_t>(frame.cropX) + x;
            if (d == 0 || d >= kBins || tx < 0 || tx >= textureWidth_) continue;
            const auto v = static_cast<uint8_t>(static_cast<int>(histogram_[d]));
            uint8_t* texel = out + tx * 3;
            texel[0] = texel[1] = texel[2] = v;
        }
    }
}
