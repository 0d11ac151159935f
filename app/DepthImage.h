// The depth picture of the display window: a cumulative depth histogram that
// turns near depths bright and far depths dark, and the RGB texture it paints.
// Depths of 10000 mm or more lie past the histogram: they are not counted
// and stay black, like pixels without a reading.
#pragma once

#include <cstdint>
#include <vector>

struct DepthFrameView {
    const uint16_t* data = nullptr;
    int32_t width = 0;        // pixels of a row
    int32_t height = 0;       // rows
    int32_t strideBytes = 0;  // bytes from one row to the next
    int32_t dataBytes = 0;    // size of the pixel data
    int32_t cropX = 0;        // where the frame sits in the full image
    int32_t cropY = 0;
    int32_t resolutionX = 0;  // the stream's video mode
    int32_t resolutionY = 0;

    // The rows the data really holds (never more than `height`).
    int32_t usableRows() const;
    const uint16_t* row(int32_t y) const {
        return reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(data) +
                                                 static_cast<int64_t>(y) * strideBytes);
    }
};

class DepthImage {
  public:
    static constexpr int kBins = 10000;

    // Allocates the texture for the first frame's resolution (rounded up to
    // multiples of 512); later calls keep the first size.
    void allocate(int32_t resolutionX, int32_t resolutionY);
    bool allocated() const { return !texture_.empty(); }

    // Builds the histogram and paints the texture from one frame.
    void update(const DepthFrameView& frame);
    // Blacks the texture out (a frame without depth data).
    void clear();

    const float* histogram() const { return histogram_; }
    const uint8_t* texture() const { return texture_.data(); }
    uint32_t textureWidth() const { return textureWidth_; }
    uint32_t textureHeight() const { return textureHeight_; }
    // The grey level of the texel at (x, y).
    uint8_t texel(uint32_t x, uint32_t y) const { return texture_[(y * textureWidth_ + x) * 3]; }

  private:
    // The texels a frame covers: columns [x0, x1), rows [y0, y1).
    struct Region {
        int64_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        bool operator==(const Region&) const = default;
    };

    float histogram_[kBins]{};
    // Per-frame work tables: integer counts in two interleaved halves (so
    // that runs of equal depths do not wait on each other's stores) and the
    // grey level of each depth.
    uint32_t counts_[2][kBins]{};
    uint8_t grey_[kBins]{};
    std::vector<uint8_t> texture_;
    uint32_t textureWidth_ = 0;
    uint32_t textureHeight_ = 0;
    // Outside this region the texture is black: a frame that covers the same
    // texels as the last one only overwrites them.
    Region painted_;
};
