// Cursor jitter for a still hand: a hand held still at 2 m steers the cursor
// in mouse mode (bench/scenes/still-hand.scene with bench/scenes/mouse.txt)
// through the whole frame path (app/FrameLoop.h) at the sensor's own pace,
// 30 frames per second, so the cursor worker sees targets as it does in use.
// Over the still part of the scene it reports, in screen pixels (1920 x 1080):
//   moves        absolute moves the cursor worker sent
//   sd_x, sd_y   standard deviation of those moves' positions
//   sd           sqrt(sd_x^2 + sd_y^2)
//   span         largest distance of a move from their mean
//   sampled_sd   the same spread of the cursor position sampled once a frame
//                (a cursor that does not move counts too)
//   short_sd     the spread of the moves about the mean of the surrounding
//                second: the jitter a user sees, without the slow wander
//   drift        pixels from the first second's mean position to the last's
//
// Usage: tolvane-jitter-bench [--scene FILE] [--config FILE] [--from S] [--to S]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/FrameLoop.h"
#include "bench/BenchScenes.h"
#include "platform/RecordingDesktop.h"
#include "platform/RecordingPictureWindow.h"
#include "sim/Scene.h"

namespace {

std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir != nullptr ? dir : TOLVANE_SOURCE_DIR;
}

struct Spread {
    size_t count = 0;
    double sdX = 0;
    double sdY = 0;
    double span = 0;
    double sd() const { return std::sqrt(sdX * sdX + sdY * sdY); }
};

Spread spreadOf(const std::vector<platform::ScreenPoint>& points) {
    Spread s;
    s.count = points.size();
    if (points.empty()) return s;
    double mx = 0;
    double my = 0;
    for (const auto& p : points) {
        mx += p.x;
        my += p.y;
    }
    const double n = static_cast<double>(points.size());
    mx /= n;
    my /= n;
    double vx = 0;
    double vy = 0;
    for (const auto& p : points) {
        vx += (p.x - mx) * (p.x - mx);
        vy += (p.y - my) * (p.y - my);
        s.span = std::max(s.span, std::hypot(p.x - mx, p.y - my));
    }
    s.sdX = std::sqrt(vx / n);
    s.sdY = std::sqrt(vy / n);
    return s;
}

// Short-term jitter: the spread about the mean of the surrounding second
// (15 samples either side), which leaves out a slow wander of the cursor.
Spread shortTerm(const std::vector<platform::ScreenPoint>& points) {
    Spread s;
    s.count = points.size();
    if (points.empty()) return s;
    constexpr long kHalf = 15;
    const long n = static_cast<long>(points.size());
    double vx = 0;
    double vy = 0;
    for (long i = 0; i < n; ++i) {
        const long a = std::max(0L, i - kHalf);
        const long b = std::min(n - 1, i + kHalf);
        double mx = 0;
        double my = 0;
        for (long j = a; j <= b; ++j) {
            mx += points[static_cast<size_t>(j)].x;
            my += points[static_cast<size_t>(j)].y;
        }
        mx /= static_cast<double>(b - a + 1);
        my /= static_cast<double>(b - a + 1);
        const double dx = points[static_cast<size_t>(i)].x - mx;
        const double dy = points[static_cast<size_t>(i)].y - my;
        vx += dx * dx;
        vy += dy * dy;
        s.span = std::max(s.span, std::hypot(dx, dy));
    }
    s.sdX = std::sqrt(vx / static_cast<double>(n));
    s.sdY = std::sqrt(vy / static_cast<double>(n));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenePath = sourceDir() + "/bench/scenes/still-hand.scene";
    std::string config = sourceDir() + "/bench/scenes/mouse.txt";
    double from = 6.0;  // s: the wave is over and the hand is tracked and still
    double to = 24.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--scene") == 0) {
            scenePath = argv[i + 1];
        } else if (std::strcmp(argv[i], "--config") == 0) {
            config = argv[i + 1];
        } else if (std::strcmp(argv[i], "--from") == 0) {
            from = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--to") == 0) {
            to = std::atof(argv[i + 1]);
        }
    }
    std::string error;
    const std::optional<sim::Scene> scene = sim::loadScene(scenePath, error);
    if (!scene) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    FrameLoop path(desktop, std::make_unique<platform::RecordingPictureWindow>());
    path.open(sceneSettings(scenePath, config, 1.0f));
    if (!path.error().empty()) {
        std::fprintf(stderr, "%s\n", path.error().c_str());
        return 1;
    }
    const platform::ScreenSize screen = desktop.screenSize();
    std::vector<platform::ScreenPoint> moves;
    std::vector<platform::ScreenPoint> sampled;
    double handZ = 0;
    int handFrames = 0;
    int frames = 0;
    for (int k = 0; k < scene->frameCount(); ++k) {
        if (path.step() != FrameLoop::Step::Frame) break;
        ++frames;
        const double t = scene->frameTime(k);
        const bool inside = t >= from && t < to;
        for (const platform::InputRecord& r : desktop.take()) {
            if (r.type != platform::InputRecord::Type::Mouse ||
                (r.mouse.flags & platform::MOUSEEVENTF_ABSOLUTE) == 0 || !inside) {
                continue;
            }
            moves.push_back({platform::normalisedToPixel(r.mouse.dx, screen.width),
                             platform::normalisedToPixel(r.mouse.dy, screen.height)});
        }
        if (inside) {
            sampled.push_back(desktop.cursorPos());
            if (path.lastFrame().handCount > 0) {
                handZ += path.lastFrame().hands[0].z;
                ++handFrames;
            }
        }
    }
    const Spread m = spreadOf(moves);
    const Spread s = spreadOf(sampled);
    const Spread mShort = shortTerm(moves);
    const Spread sShort = shortTerm(sampled);
    // The wander: from the first second's mean position to the last one's.
    double drift = 0;
    if (sampled.size() >= 60) {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        for (size_t i = 0; i < 30; ++i) {
            x0 += sampled[i].x;
            y0 += sampled[i].y;
            x1 += sampled[sampled.size() - 1 - i].x;
            y1 += sampled[sampled.size() - 1 - i].y;
        }
        drift = std::hypot(x1 - x0, y1 - y0) / 30.0;
    }
    std::printf(
        "still hand at %.0f mm, %.1f s to %.1f s (%d of %d frames with the hand tracked), "
        "screen %dx%d\n",
        handFrames > 0 ? handZ / handFrames : 0.0, from, to, handFrames,
        static_cast<int>(sampled.size()), screen.width, screen.height);
    std::printf(
        "moves=%zu sd_x=%.2f sd_y=%.2f sd=%.2f span=%.2f sampled_sd=%.2f "
        "sampled_span=%.2f\n",
        m.count, m.sdX, m.sdY, m.sd(), m.span, s.sd(), s.span);
    std::printf(
        "short_sd_x=%.2f short_sd_y=%.2f short_sd=%.2f short_span=%.2f "
        "sampled_short_sd=%.2f drift=%.1f\n",
        mShort.sdX, mShort.sdY, mShort.sd(), mShort.span, sShort.sd(), drift);
    if (std::getenv("TOLVANE_JITTER_DUMP") != nullptr) {
        for (const auto& p : sampled) std::printf("%d %d\n", p.x, p.y);
    }
    return handFrames > 0 ? 0 : 1;
}
