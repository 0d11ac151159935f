// Wave and push detectors on synthetic hand paths, at and around their thresholds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "app/tracker/PushDetector.h"
#include "app/tracker/WaveDetector.h"

namespace {

using tracker::GestureProgress;
using tracker::Vec3;

struct Result {
    int completed = 0;
    int started = 0;
    double firstCompletion = -1;
};

// Feeds `path` sampled at 30 frames per second for `seconds`.
template <typename Detector>
Result run(Detector& detector, double seconds, const std::function<Vec3(double)>& path) {
    Result r;
    for (int k = 0; k <= static_cast<int>(seconds * 30); ++k) {
        const double t = k / 30.0;
        const GestureProgress p = detector.update(t, path(t));
        if (p == GestureProgress::kStarted) ++r.started;
        if (p == GestureProgress::kCompleted && r.completed++ == 0) r.firstCompletion = t;
    }
    return r;
}

// Rest, then `swings` sideways swings of +-amplitude lasting `half` seconds each, then rest.
std::function<Vec3(double)> wavePath(float amplitude, double half, int swings, float dy = 0) {
    return [=](double t) {
        const double start = 0.5;
        const double end = start + swings * half;
        double phase = 0;
        if (t > start) phase = std::min(t, end) - start;
        const auto s = static_cast<float>(std::sin(std::numbers::pi * phase / half));
        return Vec3{200 + amplitude * s, 300 + dy * s, 2000};
    };
}

TEST(WaveDetector, ThreeCyclesCompleteOnceBeforeTheyEnd) {
    tracker::WaveDetector wave;
    const Result r = run(wave, 3.0, wavePath(100, 0.3, 6));
    EXPECT_EQ(r.completed, 1);
    EXPECT_EQ(r.started, 1);
    EXPECT_GT(r.firstCompletion, 0.5 + 3 * 0.3);
    EXPECT_LT(r.firstCompletion, 0.5 + 6 * 0.3);
}

TEST(WaveDetector, AmplitudeAtTheReversalThreshold) {
    // Peak to peak 2 * amplitude; a reversal needs the hand to come back 60 mm from an extreme
    // and a swing to span 90 mm.
    tracker::WaveDetector inside;
    EXPECT_EQ(run(inside, 3.0, wavePath(50, 0.3, 6)).completed, 1);
    tracker::WaveDetector outside;
    EXPECT_EQ(run(outside, 3.0, wavePath(28, 0.3, 6)).completed, 0);
}

TEST(WaveDetector, TooSlowOrTooFastSwingsAreNoWave) {
    tracker::WaveDetector slow;
    EXPECT_EQ(run(slow, 8.0, wavePath(100, 0.9, 6)).completed, 0);
    tracker::WaveDetector fast;
    EXPECT_EQ(run(fast, 3.0, wavePath(100, 0.1, 12)).completed, 0);
}

TEST(WaveDetector, TwoCyclesRightAfterASlowMoveAndAShortRestComplete) {
    // The hand drifts 80 mm sideways in 1 s (brought up in front of the body), rests 0.2 s,
    // then waves two cycles starting the same way.
    tracker::WaveDetector wave;
    const Result r = run(wave, 3.0, [](double t) {
        const double drift = std::min(t, 1.0) * 80.0;
        const double phase = std::clamp(t - 1.2, 0.0, 1.0);
        const double x = 200 + drift + 120 * std::sin(std::numbers::pi * phase / 0.25);
        return Vec3{static_cast<float>(x), 300, 2000};
    });
    EXPECT_EQ(r.completed, 1);
}

TEST(WaveDetector, WavingOnCompletesOnceUntilTheHandRests) {
    tracker::WaveDetector long_;
    EXPECT_EQ(run(long_, 5.0, wavePath(100, 0.3, 14)).completed, 1);
    // Two waves of three cycles with a rest of 0.4 s between them.
    tracker::WaveDetector twice;
    const auto first = wavePath(100, 0.3, 6);
    const Result r = run(twice, 5.0, [&](double t) { return first(t < 2.7 ? t : t - 2.2); });
    EXPECT_EQ(r.completed, 2);
}

TEST(WaveDetector, DiagonalOrDepthMotionIsNoWave) {
    tracker::WaveDetector diagonal;
    EXPECT_EQ(run(diagonal, 3.0, wavePath(100, 0.3, 6, 60)).completed, 0);
    tracker::WaveDetector depth;
    const auto sideways = wavePath(100, 0.3, 6);
    EXPECT_EQ(run(depth, 3.0,
                  [&](double t) {
                      Vec3 p = sideways(t);
                      p.z += static_cast<float>(100 * std::sin(7 * t));
                      return p;
                  })
                  .completed,
              0);
}

TEST(WaveDetector, JumpsBetweenTwoBlobsAreNoWave) {
    // A candidate confused between two hands 300 mm apart, switching every 0.3 s.
    tracker::WaveDetector wave;
    const Result r = run(wave, 4.0, [](double t) {
        return Vec3{static_cast<int>(t / 0.3) % 2 == 0 ? -150.0F : 150.0F, 300, 2000};
    });
    EXPECT_EQ(r.completed, 0);
}

// Rest at z0, push `depth` towards the sensor over `forward` seconds from t = 0.5, come back
// over `back` seconds, with an optional sideways drift over the push.
std::function<Vec3(double)> pushPath(float depth, double forward, double back, float drift = 0) {
    return [=](double t) {
        float s = 0;
        if (t > 0.5 && t <= 0.5 + forward) {
            s = static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * (t - 0.5) / forward));
        } else if (t > 0.5 + forward && t <= 0.5 + forward + back) {
            s = static_cast<float>(0.5 +
                                   0.5 * std::cos(std::numbers::pi * (t - 0.5 - forward) / back));
        }
        return Vec3{100 + drift * s, 200, 2000 - depth * s};
    };
}

TEST(PushDetector, PushAndBackCompletesOnceOnTheWayBack) {
    tracker::PushDetector push;
    const Result r = run(push, 2.5, pushPath(200, 0.3, 0.3));
    EXPECT_EQ(r.completed, 1);
    EXPECT_GT(r.firstCompletion, 0.8);
    EXPECT_LE(r.firstCompletion, 1.1 + 0.5);
}

TEST(PushDetector, PushRightAfterRaisingTheHandCounts) {
    // The raise brings the hand 350 mm closer and stops; the push follows without a pause.
    tracker::PushDetector push;
    const auto pushing = pushPath(150, 0.25, 0.25);
    const Result r = run(push, 2.5, [&](double t) {
        if (t >= 0.5) return pushing(t);
        const auto s = static_cast<float>(t / 0.5);
        return Vec3{100, 200, 2350 - 350 * s * s * (3 - 2 * s)};
    });
    EXPECT_EQ(r.completed, 1);
}

TEST(PushDetector, TravelAtTheThreshold) {
    tracker::PushDetector inside;
    EXPECT_EQ(run(inside, 2.5, pushPath(110, 0.3, 0.3)).completed, 1);
    tracker::PushDetector outside;
    EXPECT_EQ(run(outside, 2.5, pushPath(90, 0.3, 0.3)).completed, 0);
}

TEST(PushDetector, NotAPush) {
    // Walking towards the sensor: no way back.
    tracker::PushDetector walk;
    EXPECT_EQ(run(walk, 3.0,
                  [](double t) {
                      return Vec3{0, 200, static_cast<float>(3000 - 1400 * t)};
                  })
                  .completed,
              0);
    // Reaching out slowly, holding, and coming back.
    tracker::PushDetector reach;
    EXPECT_EQ(run(reach, 4.0, pushPath(300, 1.0, 1.0)).completed, 0);
    // A sweep that moves sideways more than it pushes.
    tracker::PushDetector sweep;
    EXPECT_EQ(run(sweep, 2.5, pushPath(150, 0.3, 0.3, 200)).completed, 0);
    // A blob whose depth flips between two surfaces 150 mm apart.
    tracker::PushDetector flicker;
    EXPECT_EQ(run(flicker, 3.0,
                  [](double t) {
                      const int k = static_cast<int>(t * 30);
                      return Vec3{0, 200, (k / 5) % 2 == 0 ? 2000.0F : 1850.0F};
                  })
                  .completed,
              0);
}

}  // namespace
