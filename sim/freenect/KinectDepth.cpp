#include "sim/freenect/KinectDepth.h"

#include <algorithm>
#include <cmath>

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

DepthConverter::DepthConverter() {
    for (size_t raw = 0; raw < table_.size(); ++raw)
        table_[raw] = rawToMillimetres(static_cast<uint16_t>(raw));
}

namespace {

// One output row from one camera row; the step and direction are constants
// so that the compiler can vectorise the loops.
template <int Step, bool Mirror, bool Raw>
void convertRow(const uint16_t* row, int width, const uint16_t* table, uint16_t* dst) {
    constexpr int W = platform::kKinectWidth;
    if constexpr (Mirror) {
        const uint16_t* src = row + W - Step;
        for (int x = 0; x < width; ++x) {
            const uint16_t v = src[-x * Step];
            dst[x] = Raw ? table[std::min(v, kNoRawReading)] : clampMillimetres(v);
        }
    } else {
        for (int x = 0; x < width; ++x) {
            const uint16_t v = row[x * Step];
            dst[x] = Raw ? table[std::min(v, kNoRawReading)] : clampMillimetres(v);
        }
    }
}

template <int Step, bool Mirror, bool Raw>
void convertFrame(const uint16_t* in, int width, int height, const uint16_t* table, uint16_t* out) {
    for (int y = 0; y < height; ++y) {
        convertRow<Step, Mirror, Raw>(
            in + static_cast<ptrdiff_t>(y) * Step * platform::kKinectWidth, width, table,
            out + static_cast<ptrdiff_t>(y) * width);
    }
}

template <int Step>
void convertAt(const uint16_t* in, bool raw, bool mirror, int width, int height,
               const uint16_t* table, uint16_t* out) {
    if (raw) {
        mirror ? convertFrame<Step, true, true>(in, width, height, table, out)
               : convertFrame<Step, false, true>(in, width, height, table, out);
    } else {
        mirror ? convertFrame<Step, true, false>(in, width, height, table, out)
               : convertFrame<Step, false, false>(in, width, height, table, out);
    }
}

}  // namespace

void DepthConverter::convert(const uint16_t* in, platform::KinectDepthUnit unit, int width,
                             int height, bool mirror, uint16_t* out) const {
    const bool raw = unit == platform::KinectDepthUnit::kRaw11Bit;
    if (width == platform::kKinectWidth) {
        convertAt<1>(in, raw, mirror, width, height, table_.data(), out);
    } else {
        convertAt<2>(in, raw, mirror, width, height, table_.data(), out);
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
