// The tracker core on depth frames drawn here: a hand with a palm and five fingers on a forearm
// and sleeve, seen close to the sensor; noisy thin strips along the image's top and bottom.
// The frames carry sensor-like noise (axial noise and missing readings) from a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "app/tracker/HandTrackerCore.h"

namespace {

using tracker::TrackerOutput;
using tracker::Vec3;

float length(const Vec3& v) {
    return std::sqrt(tracker::dot(v, v));
}

// A repeatable pseudo-random number in [0, 1) for pixel i of frame k.
float noise(uint32_t i, uint32_t k) {
    uint32_t h = i * 0x9E3779B1U ^ (k + 0x7F4A7C15U) * 0x85EBCA77U;
    h ^= h >> 15;
    h *= 0x2C1B3C6DU;
    h ^= h >> 12;
    return static_cast<float>(h & 0xFFFFFF) / 16777216.0F;
}

class Frames {
  public:
    Frames() : camera_(320, 240, 1.0144686F, 0.7898094F), depth_(320 * 240) {}

    const tracker::CameraModel& camera() const { return camera_; }

    // A right hand with its palm's centre at `palm`, fingers up and spread, the forearm running
    // to `elbow` and the sleeve over its lower half; a body plane and a wall behind.
    tracker::DepthView hand(const Vec3& palm, const Vec3& elbow, float bodyZ, uint32_t k) {
        const Vec3 wrist = palm + Vec3{0, -55, 8};
        const Vec3 sleeve = wrist + (elbow - wrist) * 0.45F;
        for (int v = 0; v < 240; ++v) {
            for (int u = 0; u < 320; ++u) {
                const Vec3 ray =
                    camera_.depthToWorld(static_cast<float>(u), static_cast<float>(v), 1.0F);
                float z = 3000;
                if (std::fabs(ray.x * bodyZ) < 230 && ray.y * bodyZ < 250) z = bodyZ;
                if (deskTop < 0 && ray.y < 0) {
                    const float onDesk = deskTop / ray.y;
                    if (onDesk > 300 && onDesk < 1100) z = std::min(z, onDesk);
                }
                z = std::min(z, ellipsoid(ray, palm, {44, 50, 14}));
                for (int f = 0; f < 5; ++f) {
                    // Thumb out to the side, four fingers fanned upwards.
                    const float angle = f == 0 ? -1.2F : -0.35F + 0.23F * static_cast<float>(f);
                    const float reach = f == 0 ? 60.0F : (f == 2 ? 80.0F : 70.0F);
                    const Vec3 base = palm + Vec3{f == 0 ? -35.0F : -33.0F + 22.0F * (f - 1),
                                                  f == 0 ? -15.0F : 42.0F, 0};
                    const Vec3 tip =
                        base + Vec3{std::sin(angle) * reach, std::cos(angle) * reach, 0};
                    z = std::min(z, capsule(ray, base, tip, 8.5F));
                }
                z = std::min(z, capsule(ray, wrist, elbow, 30.0F));
                z = std::min(z, capsule(ray, sleeve, elbow, 45.0F));
                store(u, v, z, k);
            }
        }
        return {depth_.data(), 320, 240, 320, 0, 0};
    }

    // Height of a desk top in front of the body (below the sensor; 0: no desk).
    float deskTop = 0;

    // A wall with a ceiling strip along the top and a floor strip along the bottom whose
    // inner edges are ragged and change from frame to frame.
    tracker::DepthView strips(uint32_t k) {
        for (int v = 0; v < 240; ++v) {
            for (int u = 0; u < 320; ++u) {
                const auto column = static_cast<uint32_t>(u / 4);
                const int top = 6 + static_cast<int>(10 * noise(column, k));
                const int bottom = 232 - static_cast<int>(10 * noise(column + 500, k));
                float z = 3400;
                if (v < top) z = 2300 + 10.0F * static_cast<float>(v);
                if (v > bottom) z = 1900 + 6.0F * static_cast<float>(240 - v);
                store(u, v, z, k);
            }
        }
        return {depth_.data(), 320, 240, 320, 0, 0};
    }

    // A ceiling strip along the top edge, broken by two gaps of no reading that drift side to
    // side together by `shift` pixels: the piece between them moves as a hand would.
    tracker::DepthView brokenStrip(int shift, uint32_t k) {
        for (int v = 0; v < 240; ++v) {
            for (int u = 0; u < 320; ++u) {
                const int piece = u - shift;
                const bool gap = (piece >= 100 && piece < 116) || (piece >= 176 && piece < 192);
                float z = 3400;
                if (v < 14) z = gap ? 0.0F : 2300.0F + 4.0F * static_cast<float>(v);
                store(u, v, z, k);
            }
        }
        return {depth_.data(), 320, 240, 320, 0, 0};
    }

  private:
    void store(int u, int v, float z, uint32_t k) {
        const auto i = static_cast<uint32_t>(v * 320 + u);
        const float sigma = 1.5e-6F * z * z;
        z += sigma * (noise(i, k) + noise(i + 77777, k) - 1.0F) * 2.4F;
        depth_[i] =
            z <= 0.0F || noise(i + 99991, k) < 0.04F ? uint16_t{0} : static_cast<uint16_t>(z);
    }
    static float ellipsoid(const Vec3& ray, const Vec3& c, const Vec3& r) {
        const Vec3 d{ray.x / r.x, ray.y / r.y, ray.z / r.z};
        const Vec3 o{-c.x / r.x, -c.y / r.y, -c.z / r.z};
        const float a = tracker::dot(d, d);
        const float b = tracker::dot(o, d);
        const float disc = b * b - a * (tracker::dot(o, o) - 1.0F);
        return disc < 0 ? 1e9F : (-b - std::sqrt(disc)) / a;
    }
    // Depth where the ray meets a capsule, approximately (the surface of the cylinder nearest
    // the ray's closest approach to the axis).
    static float capsule(const Vec3& ray, const Vec3& a, const Vec3& b, float r) {
        const Vec3 axis = b - a;
        const float aa = tracker::dot(axis, axis);
        const float rr = tracker::dot(ray, ray);
        const float ra = tracker::dot(ray, axis);
        const float denom = rr * aa - ra * ra;
        float t = 0;
        float s = 0;
        if (denom > 1e-6F) {
            s = std::clamp((rr * tracker::dot(a, axis) * -1.0F + ra * tracker::dot(ray, a)) / denom,
                           0.0F, 1.0F);
        }
        const Vec3 q = a + axis * s;
        t = tracker::dot(ray, q) / rr;
        const float miss = length(ray * t - q);
        if (miss >= r) return 1e9F;
        return t - std::sqrt(r * r - miss * miss) / std::sqrt(rr);
    }

    tracker::CameraModel camera_;
    std::vector<uint16_t> depth_;
};

class HandShape : public testing::Test {
  protected:
    void SetUp() override { core.configure(frames.camera()); }
    Frames frames;
    tracker::HandTrackerCore core;
    TrackerOutput out;
};

TEST_F(HandShape, HandWithFingersIsFollowedThroughARaiseAndAWaveAtItsPalm) {
    // Seated 0.65 m from the sensor, elbow low on the desk, out of the image below.
    const Vec3 elbow{60, -420, 720};
    int16_t id = -1;
    const Vec3 start{0, -140, 640};
    ASSERT_EQ(core.startHandTracking(start + Vec3{0, 0, 11}, &id), tracker::StartResult::kStarted);
    float worst = 0;
    float sum = 0;
    for (uint32_t k = 0; k < 120; ++k) {
        const float t = static_cast<float>(k) / 30.0F;
        const float raise = std::min(1.0F, t / 1.0F);
        const float lift = 0.5F - 0.5F * std::cos(std::numbers::pi_v<float> * raise);
        const float wave =
            t > 1.0F ? 100.0F * std::sin(std::numbers::pi_v<float> * (t - 1.0F) / 0.3F) : 0;
        const Vec3 palm = start + Vec3{wave, 200.0F * lift, 0};
        core.process(frames.hand(palm, elbow + Vec3{wave * 0.3F, 0, 0}, 900, k), k * 33'333ULL,
                     out);
        ASSERT_EQ(out.handCount, 1) << "frame " << k;
        EXPECT_NE(out.hands[0].state & tracker::kHandTracked, 0U) << "frame " << k;
        const float off = length(out.hands[0].position - (palm + Vec3{0, 0, 11}));
        worst = std::max(worst, off);
        sum += off;
    }
    EXPECT_LT(sum / 120.0F, 33.0F) << "mean distance from the palm's centre";
    EXPECT_LT(worst, 42.0F) << "farthest from the palm's centre";
}

TEST_F(HandShape, HandLoweredOntoADeskIsFollowedThereAndBackUp) {
    // Seated at a desk whose top is 190 mm below the sensor, the forearm on it.
    frames.deskTop = -190;
    const Vec3 elbow{80, -170, 860};
    const Vec3 raised{0, -20, 640};
    for (uint32_t k = 0; k < 135; ++k) {
        // Waved for 1.5 s (tracking starts at its end, as at a focus gesture), then down onto
        // the desk in 1 s, still for 1 s, back up in 1 s.
        const float t = static_cast<float>(k) / 30.0F - 1.5F;
        const float phase = std::clamp(t < 1.0F ? t : 3.0F - t, 0.0F, 1.0F);
        const float low = 0.5F - 0.5F * std::cos(std::numbers::pi_v<float> * phase);
        const float wave = t < 0 ? 60.0F * std::sin(std::numbers::pi_v<float> * t / 0.3F) : 0.0F;
        const Vec3 palm = raised + Vec3{wave + 40.0F * low, -125.0F * low, 40.0F * low};
        if (k == 45) {
            int16_t id = -1;
            ASSERT_EQ(core.startHandTracking(palm + Vec3{0, 0, 11}, &id),
                      tracker::StartResult::kStarted);
        }
        core.process(frames.hand(palm, elbow, 1000, k), k * 33'333ULL, out);
        if (k < 45) continue;
        ASSERT_EQ(out.handCount, 1) << "frame " << k;
        ASSERT_NE(out.hands[0].state & tracker::kHandTracked, 0U) << "lost at frame " << k;
        EXPECT_LT(length(out.hands[0].position - (palm + Vec3{0, 0, 11})), 60.0F)
            << "frame " << k << ": on the desk, not the hand";
    }
}

TEST_F(HandShape, HandThatLeavesThroughTheLowerEdgeAndComesBackIsTheSameHand) {
    // Seated 0.65 m away: the hand circles down out of the image and comes back up 200 mm to
    // the side of where it left, 1.3 s later. Hands come back as candidates, which are looked
    // for while a focus gesture is enabled, as the program always has one.
    core.setGestureEnabled(tracker::kGestureWave, true);
    const Vec3 elbow{60, -520, 760};
    const Vec3 top{-100, -60, 640};
    int16_t id = -1;
    ASSERT_EQ(core.startHandTracking(top + Vec3{0, 0, 11}, &id), tracker::StartResult::kStarted);
    int outside = 0;
    for (uint32_t k = 0; k < 120; ++k) {
        const float t = static_cast<float>(k) / 30.0F;
        const float turn = std::numbers::pi_v<float> * std::clamp(t / 3.0F, 0.0F, 1.0F);
        const Vec3 palm = top + Vec3{100.0F - 100.0F * std::cos(turn), -420.0F * std::sin(turn), 0};
        core.process(frames.hand(palm, elbow + Vec3{palm.x, 0, 0}, 900, k), k * 33'333ULL, out);
        ASSERT_EQ(out.handCount, 1) << "frame " << k;
        const tracker::HandReport& h = out.hands[0];
        ASSERT_EQ(h.id, id);
        ASSERT_EQ(h.state & tracker::kHandLost, 0U) << "lost at frame " << k;
        if ((h.state & tracker::kHandTracked) == 0) {
            ++outside;
            continue;
        }
        if (k >= 100) {
            EXPECT_EQ(h.state & tracker::kHandCoasting, 0U) << "frame " << k;
            EXPECT_LT(length(h.position - (palm + Vec3{0, 0, 11})), 40.0F) << "frame " << k;
        }
    }
    EXPECT_GT(outside, 0) << "the hand never left the view";
}

TEST_F(HandShape, FastHandThatLeavesTheSearchWindowIsFoundAgainNotTheArm) {
    // Standing 1.1 m away at 15 frames per second: swings of 500 mm, up to 210 mm per frame.
    const Vec3 elbow{150, -300, 1300};
    const Vec3 rest{0, 100, 1100};
    int16_t id = -1;
    ASSERT_EQ(core.startHandTracking(rest + Vec3{0, 0, 11}, &id), tracker::StartResult::kStarted);
    int onPalm = 0;
    const int frames15 = 45;
    for (int k = 0; k < frames15; ++k) {
        const float t = static_cast<float>(k) / 15.0F;
        const Vec3 palm =
            rest + Vec3{250.0F * std::sin(std::numbers::pi_v<float> * t / 0.8F), 0, 0};
        core.process(frames.hand(palm, elbow, 1450, static_cast<uint32_t>(k)),
                     static_cast<uint64_t>(k) * 66'667, out);
        ASSERT_EQ(out.handCount, 1) << "frame " << k;
        const tracker::HandReport& h = out.hands[0];
        ASSERT_NE(h.state & tracker::kHandTracked, 0U) << "lost at frame " << k;
        if ((h.state & tracker::kHandCoasting) != 0) continue;
        const float off = length(h.position - (palm + Vec3{0, 0, 11}));
        EXPECT_LT(off, 60.0F) << "frame " << k << ": measured on the arm";
        if (off < 60.0F) ++onPalm;
    }
    EXPECT_GE(onPalm, frames15 * 8 / 10);
}

TEST_F(HandShape, FastWaveOfATrackedHandIsSeenOnce) {
    // Four cycles of +-250 mm, 0.2 s a swing: up to 3.9 m/s, 130 mm a frame.
    core.setGestureEnabled(tracker::kGestureWave, true);
    const Vec3 elbow{150, -300, 1300};
    const Vec3 rest{0, 100, 1100};
    ASSERT_EQ(core.startHandTracking(rest + Vec3{0, 0, 11}, nullptr),
              tracker::StartResult::kStarted);
    int waves = 0;
    for (uint32_t k = 0; k < 30 * 3; ++k) {
        const float t = std::clamp(static_cast<float>(k) / 30.0F - 0.4F, 0.0F, 1.6F);
        const Vec3 palm =
            rest + Vec3{250.0F * std::sin(std::numbers::pi_v<float> * t / 0.2F), 0, 0};
        core.process(frames.hand(palm, elbow, 1450, k), k * 33'333ULL, out);
        for (int g = 0; g < out.gestureCount; ++g) {
            waves += (out.gestures[g].state & tracker::kGestureCompleted) != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(waves, 1);
}

TEST_F(HandShape, ThinNoisyStripsAtTheImageEdgesGiveNoFocusGesture) {
    core.setGestureEnabled(tracker::kGestureWave, true);
    core.setGestureEnabled(tracker::kGestureClick, true);
    int gestures = 0;
    for (uint32_t k = 0; k < 30 * 100; ++k) {
        core.process(frames.strips(k), k * 33'333ULL, out);
        gestures += out.gestureCount;
    }
    EXPECT_EQ(gestures, 0) << "in 100 s";
}

TEST_F(HandShape, PieceOfAStripAtTheImageEdgeMovingSidewaysGivesNoFocusGesture) {
    core.setGestureEnabled(tracker::kGestureWave, true);
    core.setGestureEnabled(tracker::kGestureClick, true);
    int gestures = 0;
    for (uint32_t k = 0; k < 30 * 10; ++k) {
        const float t = static_cast<float>(k) / 30.0F;
        const auto shift =
            static_cast<int>(std::lround(20.0F * std::sin(std::numbers::pi_v<float> * t / 0.4F)));
        core.process(frames.brokenStrip(shift, k), k * 33'333ULL, out);
        gestures += out.gestureCount;
    }
    EXPECT_EQ(gestures, 0) << "in 10 s";
}

TEST_F(HandShape, WaveOfAHandCloseInFrontOfTheChestIsSeen) {
    // The palm's surface 115 mm in front of the body, the elbow against it.
    core.setGestureEnabled(tracker::kGestureWave, true);
    const float body = 1200;
    const Vec3 rest{60, 80, body - 115 + 14};
    int waves = 0;
    for (uint32_t k = 0; k < 30 * 2; ++k) {
        const float t = static_cast<float>(k) / 30.0F;
        const Vec3 palm =
            rest + Vec3{100.0F * std::sin(std::numbers::pi_v<float> * t / 0.3F), 0, 0};
        core.process(frames.hand(palm, Vec3{palm.x * 0.5F + 80, -200, body - 20}, body, k),
                     k * 33'333ULL, out);
        for (int g = 0; g < out.gestureCount; ++g) {
            if ((out.gestures[g].state & tracker::kGestureCompleted) == 0) continue;
            ++waves;
            EXPECT_LT(length(out.gestures[g].position - rest), 120.0F);
        }
    }
    EXPECT_GE(waves, 1);
}

}  // namespace
