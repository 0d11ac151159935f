#include "app/DepthImage.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

DepthFrameView view(const std::vector<uint16_t>& pixels, int width, int height) {
    DepthFrameView v;
    v.data = pixels.data();
    v.width = width;
    v.height = height;
    v.strideBytes = width * 2;
    v.dataBytes = static_cast<int32_t>(pixels.size() * 2);
    v.resolutionX = width;
    v.resolutionY = height;
    return v;
}

}  // namespace

TEST(DepthImage, TextureSizeRoundsUpTo512AndStays) {
    DepthImage a;
    a.allocate(320, 240);
    EXPECT_EQ(a.textureWidth(), 512u);
    EXPECT_EQ(a.textureHeight(), 512u);
    a.allocate(640, 480);
    EXPECT_EQ(a.textureWidth(), 512u);
    DepthImage b;
    b.allocate(640, 480);
    EXPECT_EQ(b.textureWidth(), 1024u);
    EXPECT_EQ(b.textureHeight(), 512u);
}

TEST(DepthImage, NearIsBrightFarIsDarkNoReadingIsBlack) {
    std::vector<uint16_t> px(320 * 240, 2000);
    for (size_t i = 320; i < 640; ++i) px[i] = 1200;  // one row nearer
    px[0] = 0;
    px[1] = 800;
    px[2] = 1200;
    DepthImage image;
    image.allocate(320, 240);
    image.update(view(px, 320, 240));
    EXPECT_EQ(image.texel(0, 0), 0);
    EXPECT_GT(image.texel(1, 0), image.texel(2, 0));
    EXPECT_EQ(image.texel(3, 0), 0);  // the farthest depth maps to 0
    // 1 of 76799 valid pixels at or before 800: 256 x (1 - 1/76799) = 255.99..
    EXPECT_EQ(image.texel(1, 0), 255);
    EXPECT_EQ(image.histogram()[0], 0.0f);
}

TEST(DepthImage, AllZeroFrameIsBlackAndEqualDepthsToo) {
    DepthImage image;
    image.allocate(320, 240);
    std::vector<uint16_t> zeros(320 * 240, 0);
    image.update(view(zeros, 320, 240));
    EXPECT_EQ(image.histogram()[5000], 0.0f);
    EXPECT_EQ(image.texel(100, 100), 0);
    std::vector<uint16_t> flat(320 * 240, 1000);
    image.update(view(flat, 320, 240));
    EXPECT_EQ(image.histogram()[1000], 0.0f);
    EXPECT_EQ(image.histogram()[999], 256.0f);
    EXPECT_EQ(image.texel(100, 100), 0);
}

TEST(DepthImage, DepthsPastTheHistogramAreNotCountedAndStayBlack) {
    std::vector<uint16_t> px(320 * 240, 3000);
    for (size_t i = 0; i < px.size() / 2; ++i) px[i] = 1500;
    px[10] = 10000;
    px[11] = 65535;
    px[12] = 9999;
    DepthImage image;
    image.allocate(320, 240);
    image.update(view(px, 320, 240));
    EXPECT_EQ(image.texel(10, 0), 0);
    EXPECT_EQ(image.texel(11, 0), 0);
    EXPECT_EQ(image.texel(12, 0), 0);    // the farthest counted depth
    EXPECT_EQ(image.texel(13, 0), 128);  // half the valid pixels lie farther than 1500
}

TEST(DepthImage, ShortOrOddFramesNeverReadPastTheirData) {
    std::vector<uint16_t> px(320 * 10, 700);  // claims 240 rows, holds 10
    DepthFrameView v = view(px, 320, 240);
    EXPECT_EQ(v.usableRows(), 10);
    DepthImage image;
    image.allocate(320, 240);
    image.update(v);
    EXPECT_EQ(image.texel(5, 9), 0);  // every valid pixel is at the same, farthest depth
    v.strideBytes = 100;              // shorter than a row
    EXPECT_EQ(v.usableRows(), 0);
    // A frame wider than the texture is clipped.
    std::vector<uint16_t> wide(2000 * 2, 900);
    DepthFrameView w = view(wide, 2000, 2);
    w.cropX = 100;
    image.update(w);
    DepthFrameView none;
    image.update(none);
}

TEST(DepthImage, ASmallerOrShiftedFrameLeavesNothingOfTheLastOneBehind) {
    // Near pixels of a full frame, then a cropped frame elsewhere: the texels
    // the second frame does not cover are black again.
    std::vector<uint16_t> full(320 * 240, 3000);
    for (size_t i = 0; i < 320 * 20; ++i) full[i] = 900;
    DepthImage image;
    image.allocate(320, 240);
    image.update(view(full, 320, 240));
    ASSERT_GT(image.texel(10, 10), 0);
    std::vector<uint16_t> part(40 * 30, 2000);
    part[41] = 1000;  // (1, 1): the one near pixel is bright
    DepthFrameView v = view(part, 40, 30);
    v.cropX = 200;
    v.cropY = 100;
    image.update(v);
    EXPECT_EQ(image.texel(10, 10), 0);
    EXPECT_GT(image.texel(201, 101), 0);
    // The same frame again: unchanged texels are painted again, not left over.
    image.update(v);
    EXPECT_GT(image.texel(201, 101), 0);
    EXPECT_EQ(image.texel(10, 10), 0);
}
