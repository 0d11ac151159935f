#include "tests/support/RealDepth.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace realdepth {

std::string folder() {
    const char* root = std::getenv("TOLVANE_SOURCE_DIR");
    const std::filesystem::path dir =
        std::filesystem::path(root != nullptr ? root : ".") / ".." / "shared" / "realdepth";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir.lexically_normal().string() : "";
}

namespace {

struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngRead() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

uint16_t disparityToMm(uint16_t raw) {
    if (raw >= 2047) return 0;
    const double mm = 1000.0 / (raw * -0.0030711016 + 3.3309495161);
    return mm > 0 && mm < 65535 ? static_cast<uint16_t>(std::lround(mm)) : uint16_t{0};
}

}  // namespace

bool readPng(const std::string& path, bool disparity, Image& image, std::string& error) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    PngRead r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (r.png != nullptr) r.info = png_create_info_struct(r.png);
    if (r.info == nullptr) {
        error = "out of memory reading " + path;
        return false;
    }
    std::vector<png_bytep> rows;
    // libpng reports errors by longjmp; nothing with a destructor is created below this point
    // except what already exists.
    if (setjmp(png_jmpbuf(r.png)) != 0) {
        error = "not a readable PNG: " + path;
        return false;
    }
    png_init_io(r.png, file.get());
    png_read_info(r.png, r.info);
    const auto width = static_cast<int>(png_get_image_width(r.png, r.info));
    const auto height = static_cast<int>(png_get_image_height(r.png, r.info));
    if (png_get_bit_depth(r.png, r.info) != 16 ||
        png_get_color_type(r.png, r.info) != PNG_COLOR_TYPE_GRAY || width <= 0 || height <= 0 ||
        width > 4096 || height > 4096) {
        error = "not a 16-bit grey PNG: " + path;
        return false;
    }
    image.width = width;
    image.height = height;
    image.depth.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    rows.resize(static_cast<size_t>(height));
    for (int v = 0; v < height; ++v) {
        rows[static_cast<size_t>(v)] =
            reinterpret_cast<png_bytep>(image.depth.data() + static_cast<size_t>(v) * width);
    }
    png_read_image(r.png, rows.data());
    // PNG stores 16-bit samples big-endian.
    for (uint16_t& d : image.depth) {
        d = static_cast<uint16_t>((d >> 8) | (d << 8));
        if (disparity) d = disparityToMm(d);
    }
    return true;
}

bool readRecording(const std::string& dir, Recording& recording, std::string& error) {
    std::ifstream in(dir + "/frames.txt");
    if (!in) {
        error = "cannot read " + dir + "/frames.txt";
        return false;
    }
    recording = Recording();
    std::string line;
    double first = -1;
    while (std::getline(in, line)) {
        double seconds = 0;
        if (std::sscanf(line.c_str(), "d-%lf-", &seconds) != 1) continue;
        if (first < 0) first = seconds;
        char name[32];
        std::snprintf(name, sizeof name, "/png/%04zu.png", recording.files.size());
        recording.files.push_back(dir + name);
        recording.seconds.push_back(seconds - first);
    }
    if (recording.files.empty()) {
        error = "no frames listed in " + dir + "/frames.txt";
        return false;
    }
    return true;
}

}  // namespace realdepth
