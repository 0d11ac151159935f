// The built-in pictures: their file format, the elements each must show
// (checked by sampling pixels), the bitmap reader, and that the committed
// files are exactly what the generator draws.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "feedback/Bmp.h"
#include "feedback/Feedback.h"
#include "feedback/Resources.h"
#include "tests/support/RunProgram.h"

namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x7F7F7F;
constexpr uint32_t kGreen = 0x07AC50;

uint32_t get32(std::span<const uint8_t> b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

struct Picture {
    platform::PicturePixels pixels{};
    uint32_t at(int x, int y) const { return pixels[platform::pixelIndex(x, y)]; }
    bool red(int x, int y) const {
        const uint32_t p = at(x, y);
        return (p >> 16) >= 0xC0 && ((p >> 8) & 0xFF) < 0x40 && (p & 0xFF) < 0x40;
    }
    int count(uint32_t colour) const {
        return static_cast<int>(std::count(pixels.begin(), pixels.end(), colour));
    }
};

Picture picture(int index) {
    Picture p;
    EXPECT_TRUE(feedback::loadPicture(index, p.pixels)) << index;
    return p;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(Pictures, AreUncompressed24BitBitmapsOf128By128) {
    for (int id = 101; id <= 111; ++id) {
        const auto file = feedback::resource(id);
        ASSERT_EQ(file.size(), 49206u) << id;
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(get32(file, 2), 49206u);
        EXPECT_EQ(get32(file, 10), 54u);  // pixels right after the two headers
        EXPECT_EQ(get32(file, 14), 40u);  // BITMAPINFOHEADER
        EXPECT_EQ(get32(file, 18), 128u);
        EXPECT_EQ(get32(file, 22), 128u);
        EXPECT_EQ(file[26] | file[27] << 8, 1);   // planes
        EXPECT_EQ(file[28] | file[29] << 8, 24);  // bits per pixel
        EXPECT_EQ(get32(file, 30), 0u);           // BI_RGB
        EXPECT_EQ(get32(file, 34), 49152u);
        // Without the file header, as a bitmap resource holds it: 49192 bytes.
        EXPECT_EQ(file.size() - 14, 49192u);
    }
    EXPECT_TRUE(feedback::resource(100).empty());
    EXPECT_TRUE(feedback::resource(112).empty());
    EXPECT_FALSE(feedback::loadPicture(10, *std::make_unique<platform::PicturePixels>()));
}

TEST(Pictures, ShowTheirElements) {
    std::set<uint64_t> seen;
    for (int i = 0; i < 10; ++i) {
        const Picture p = picture(i);
        seen.insert(platform::pictureFingerprint(p.pixels));
        // Black background: the corners.
        EXPECT_EQ(p.at(0, 0), kBlack) << i;
        EXPECT_EQ(p.at(127, 127), kBlack) << i;
        EXPECT_EQ(p.at(0, 127), kBlack) << i;

        const bool oneHand = i <= 6;
        const bool green = i == 2 || i == 3 || i == 5 || i == 6 || i == 8 || i == 9;
        const uint32_t outline = i == 0 ? kGrey : kWhite;
        if (oneHand) {
            // The index finger, pointing up: edge and inside.
            EXPECT_EQ(p.at(44, 30), outline) << i;
            EXPECT_EQ(p.at(52, 30), green ? kGreen : kBlack) << i;
            EXPECT_EQ(p.at(52, 10), kBlack) << i;  // above the fingertip
        } else {
            // Two hands: one index finger on each side of the middle.
            EXPECT_EQ(p.at(42, 61), green ? kGreen : kBlack) << i;
            EXPECT_EQ(p.at(85, 61), green ? kGreen : kBlack) << i;
            EXPECT_EQ(p.at(64, 100), kBlack) << i;  // nothing between the palms
            EXPECT_GT(p.count(kWhite), 600) << i;
        }
        EXPECT_EQ(p.count(kGreen) > 1000, green) << i;

        if (i != 0) {  // the X covers these places
            // The dot: at the top for one hand, between two hands.
            EXPECT_EQ(p.red(22, 18), i == 3 || i == 6) << i;
            EXPECT_EQ(p.red(64, 52), i == 9) << i;
            // The arrow: top right.
            const bool arrow = i >= 4 && i <= 6;
            EXPECT_EQ(p.at(106, 20), arrow ? kWhite : kBlack) << i;
            EXPECT_EQ(p.at(103, 8), arrow ? kWhite : kBlack) << i;
        }
        // The X: red along both diagonals through the middle.
        for (const auto& [x, y] : {std::pair{30, 30}, {64, 64}, {98, 98}, {98, 30}, {30, 98}}) {
            EXPECT_EQ(p.red(x, y), i == 0) << i << " at " << x << "," << y;
        }
        if (i == 0) {
            EXPECT_GT(p.count(kGrey), 300);
        }
    }
    Picture icon;
    ASSERT_TRUE(feedback::loadIcon(icon.pixels));
    seen.insert(platform::pictureFingerprint(icon.pixels));
    EXPECT_GT(icon.count(kGreen), 1000);
    EXPECT_EQ(seen.size(), 11u);  // all different
}

TEST(Pictures, BitmapReaderReadsWhatTheWriterWritesAndRejectsTheRest) {
    platform::PicturePixels original{};
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
    std::vector<uint8_t> file = feedback::encodeBmp(original);
    ASSERT_EQ(file.size(), 49206u);
    platform::PicturePixels read{};
    ASSERT_TRUE(feedback::decodeBmp(file, read));
    EXPECT_EQ(read, original);

    const platform::PicturePixels untouched = read;
    auto broken = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> f = file;
        f[at] = value;
        return f;
    };
    EXPECT_FALSE(feedback::decodeBmp(broken(0, 'X'), read));
    EXPECT_FALSE(feedback::decodeBmp(broken(18, 64), read));    // width
    EXPECT_FALSE(feedback::decodeBmp(broken(25, 0xFF), read));  // height: top-down
    EXPECT_FALSE(feedback::decodeBmp(broken(28, 32), read));    // bits per pixel
    EXPECT_FALSE(feedback::decodeBmp(broken(30, 1), read));     // RLE
    EXPECT_FALSE(feedback::decodeBmp(broken(11, 1), read));     // offset past the end
    EXPECT_FALSE(feedback::decodeBmp(std::span(file).first(49205), read));
    EXPECT_FALSE(feedback::decodeBmp(std::span(file).first(20), read));
    EXPECT_EQ(read, untouched);
}

TEST(Pictures, CommittedFilesAreWhatTheGeneratorDraws) {
    char folder[] = "/tmp/tolvane-pictures-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const ProgramResult run = runCommand(shellQuote(MAKE_PICTURES) + " " + shellQuote(folder));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    std::vector<std::string> names = {"icon.bmp"};
    for (int i = 0; i < 10; ++i) names.push_back("picture" + std::to_string(i) + ".bmp");
    for (const std::string& name : names) {
        const auto drawn = readFile(std::string(folder) + "/" + name);
        const auto committed = readFile(std::string(PICTURES_DIR) + "/" + name);
        EXPECT_EQ(drawn.size(), 49206u) << name;
        EXPECT_TRUE(drawn == committed) << name << " differs: rebuild the feedback_pictures target";
        std::remove((std::string(folder) + "/" + name).c_str());
    }
    rmdir(folder);
}
