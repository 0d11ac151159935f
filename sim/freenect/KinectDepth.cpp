#include "sim/freenect/KinectDepth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim::freenect {

namespace {

constexpr double kA = -0.0030711016;
constexpr double kB = 3.3309495161;

inline uint16_t clampMillimetres(uint16_t mm) {
    return mm > kMaxDepth ? uint16_t{0} : mm;
}

}  // namespace

bool offered(int width, int height, int fps) {
    return std::any_of(kDepthModes.begin(), kDepthModes.end(), [&](const DepthMode& m) {
        return m.width == width && m.height == height && m.fps == fps;
    });
}

uint16_t rawToMillimetres(uint16_t raw) {
    if (raw >= kNoRawReading) return 0;
    const double denominator = raw * kA + kB;
    if (denominator <= 0) return 0;
    const double mm = 1000.0 / denominator;
    return mm > kMaxDepth ? uint16_t{0} : static_cast<uint16_t>(std::lround(mm));
}

uint16_t millimetresToRaw(uint16_t mm) {
    if (mm == 0) return kNoRawReading;
    const long guess =
        std::clamp(std::lround((1000.0 / mm - kB) / kA), 0L, long{kNoRawReading - 1});
    // Of the raw values around it, the one whose depth is nearest.
    long best = guess;
    int bestError = 1 << 20;
    for (long r = std::max(0L, guess - 1); r <= std::min(long{kNoRawReading - 1}, guess + 1); ++r) {
        const int depth = rawToMillimetres(static_cast<uint16_t>(r));
        const int error = std::abs(depth - mm);
        if (depth != 0 && error < bestError) {
            best = r;
            bestError = error;
        }
    }
    return static_cast<uint16_t>(best);
}

DepthConverter::DepthConverter() : table_(65536, 0) {
    for (uint16_t raw = 0; raw < kNoRawReading; ++raw) table_[raw] = rawToMillimetres(raw);
}

namespace {

// One output row from one camera row. The width and direction are constants
// so that the compiler can vectorise the loops.
template <int Width, bool Mirror, bool Raw>
void convertRow(const unsigned char* row, const uint16_t* table, uint16_t* dst) {
    constexpr int W = platform::kKinectWidth;
    constexpr int Step = W / Width;
    for (int x = 0; x < Width; ++x) {
        uint16_t v;  // the camera's buffer may be unaligned
        std::memcpy(&v, row + 2 * (Mirror ? W - Step - x * Step : x * Step), sizeof v);
        dst[x] = Raw ? table[v] : clampMillimetres(v);
    }
}

template <int Width, bool Mirror, bool Raw>
void convertFrame(const unsigned char* in, const uint16_t* table, uint16_t* out) {
    constexpr int Step = platform::kKinectWidth / Width;
    constexpr int Height = platform::kKinectHeight / Step;
    for (int y = 0; y < Height; ++y) {
        convertRow<Width, Mirror, Raw>(
            in + static_cast<ptrdiff_t>(y) * Step * platform::kKinectWidth * 2, table,
            out + static_cast<ptrdiff_t>(y) * Width);
    }
}

template <int Width>
void convertAt(const unsigned char* in, bool raw, bool mirror, const uint16_t* table,
               uint16_t* out) {
    if (raw) {
        mirror ? convertFrame<Width, true, true>(in, table, out)
               : convertFrame<Width, false, true>(in, table, out);
    } else {
        mirror ? convertFrame<Width, true, false>(in, table, out)
               : convertFrame<Width, false, false>(in, table, out);
    }
}

}  // namespace

void DepthConverter::convert(const void* pixels, platform::KinectDepthUnit unit, int width,
                             int /*height*/, bool mirror, uint16_t* out) const {
    const auto* in = static_cast<const unsigned char*>(pixels);
    const bool raw = unit == platform::KinectDepthUnit::kRaw11Bit;
    if (width == platform::kKinectWidth) {
        convertAt<platform::kKinectWidth>(in, raw, mirror, table_.data(), out);
    } else {
        convertAt<platform::kKinectWidth / 2>(in, raw, mirror, table_.data(), out);
    }
}

DeviceClock::Stamp DeviceClock::next(uint32_t ticks) {
    if (!started_) {
        started_ = true;
        last_ = ticks;
        elapsed_ = 0;
        index_ = 1;
        return {0, 1};
    }
    const uint32_t delta = ticks - last_;  // modulo 2^32: the wrap needs nothing more
    last_ = ticks;
    elapsed_ += delta;
    index_ += std::max(1, static_cast<int>(std::lround(delta / kTicksPerFrame)));
    return {
        static_cast<uint64_t>(std::llround(static_cast<double>(elapsed_) / kTicksPerMicrosecond)),
        index_};
}

}  // namespace sim::freenect
