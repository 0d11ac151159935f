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
    painted_ = Region{};
}

void DepthImage::update(const DepthFrameView& frame) {
    const int32_t rows = frame.usableRows();
    // Counting: depth 0 (no reading) and depths past the last bin go to
    // bin 0, which is not part of the histogram.
    std::memset(counts_, 0, sizeof counts_);
    uint32_t* const even = counts_[0];
    uint32_t* const odd = counts_[1];
    const int32_t width = frame.width;
    for (int32_t y = 0; y < rows; ++y) {
        const uint16_t* row = frame.row(y);
        int32_t x = 0;
        for (; x + 1 < width; x += 2) {
            const uint16_t a = row[x];
            const uint16_t b = row[x + 1];
            ++even[a < kBins ? a : 0];
            ++odd[b < kBins ? b : 0];
        }
        if (x < width) {
            const uint16_t a = row[x];
            ++even[a < kBins ? a : 0];
        }
    }
    // The running sum in float32, as when counting in floats: every partial
    // sum is a whole number below 2^24, so each is exact and the bins are
    // the same.
    histogram_[0] = 0.0f;
    float sum = 0.0f;
    uint32_t count = 0;
    for (int i = 1; i < kBins; ++i) {
        const uint32_t c = counts_[0][i] + counts_[1][i];
        count += c;
        sum += static_cast<float>(c);
        histogram_[i] = sum;
    }
    if (count != 0) {
        const float r = 1.0f / static_cast<float>(count);
        for (int i = 1; i < kBins; ++i) {
            histogram_[i] =
                static_cast<float>(static_cast<int>(256.0f * (1.0f - histogram_[i] * r)));
        }
    }
    grey_[0] = 0;
    for (int i = 1; i < kBins; ++i) {
        grey_[i] = static_cast<uint8_t>(static_cast<int>(histogram_[i]));
    }
    if (!allocated()) return;

    // Every texel the frame covers is written (black where there is no
    // reading); the rest of the texture is cleared only when the covered
    // region changes.
    Region region;
    region.x0 = std::clamp<int64_t>(frame.cropX, 0, textureWidth_);
    region.x1 = std::clamp<int64_t>(static_cast<int64_t>(frame.cropX) + frame.width, region.x0,
                                    textureWidth_);
    region.y0 = std::clamp<int64_t>(frame.cropY, 0, textureHeight_);
    region.y1 =
        std::clamp<int64_t>(static_cast<int64_t>(frame.cropY) + rows, region.y0, textureHeight_);
    if (!(region == painted_)) {
        std::fill(texture_.begin(), texture_.end(), 0);
        painted_ = region;
    }
    const uint8_t* const grey = grey_;
    const auto level = [grey](uint16_t d) -> uint8_t { return d < kBins ? grey[d] : 0; };
    for (int64_t ty = region.y0; ty < region.y1; ++ty) {
        const uint16_t* depth =
            frame.row(static_cast<int32_t>(ty - frame.cropY)) + (region.x0 - frame.cropX);
        uint8_t* texel = texture_.data() + (ty * textureWidth_ + region.x0) * 3;
        const int64_t n = region.x1 - region.x0;
        int64_t x = 0;
        // Four texels (12 bytes) at a time.
        for (; x + 4 <= n; x += 4, texel += 12) {
            const uint8_t a = level(depth[x]);
            const uint8_t b = level(depth[x + 1]);
            const uint8_t c = level(depth[x + 2]);
            const uint8_t d = level(depth[x + 3]);
            const uint8_t block[12] = {a, a, a, b, b, b, c, c, c, d, d, d};
            std::memcpy(texel, block, sizeof block);
        }
        for (; x < n; ++x, texel += 3) {
            const uint8_t v = level(depth[x]);
            texel[0] = texel[1] = texel[2] = v;
        }
    }
}
