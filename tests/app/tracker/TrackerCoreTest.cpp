// The tracker core on simple synthetic frames (a wall and a ball for a hand): hand life cycle,
// start requests, smoothing, and frames it cannot use.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/tracker/HandTrackerCore.h"

namespace {

using tracker::HandTrackerCore;
using tracker::StartResult;
using tracker::TrackerOutput;
using tracker::Vec3;

// Renders a wall at 3 m and balls of 50 mm radius (hands without arms) into a 320 x 240 frame.
class Frames {
  public:
    Frames() : camera_(320, 240, 1.0144686F, 0.7898094F), depth_(320 * 240) {}

    const tracker::CameraModel& camera() const { return camera_; }

    tracker::DepthView render(const std::vector<Vec3>& balls) {
        for (int v = 0; v < 240; ++v) {
            for (int u = 0; u < 320; ++u) {
                const Vec3 ray =
                    camera_.depthToWorld(static_cast<float>(u), static_cast<float>(v), 1.0F);
                float z = 3000;
                for (const Vec3& c : balls) {
                    // |t ray - c|^2 = r^2, nearest t; t is the planar depth since ray.z = 1.
                    const float a = tracker::dot(ray, ray);
                    const float b = tracker::dot(ray, c);
                    const float disc = b * b - a * (tracker::dot(c, c) - 50.0F * 50.0F);
                    if (disc >= 0) z = std::min(z, (b - std::sqrt(disc)) / a);
                }
                depth_[static_cast<size_t>(v * 320 + u)] = static_cast<uint16_t>(z);
            }
        }
        return {depth_.data(), 320, 240, 320, 0, 0};
    }

  private:
    tracker::CameraModel camera_;
    std::vector<uint16_t> depth_;
};

class TrackerCore : public testing::Test {
  protected:
    void SetUp() override { core.configure(frames.camera()); }

    const TrackerOutput& step(const std::vector<Vec3>& balls) {
        core.process(frames.render(balls), stamp, out);
        stamp += 33'333;
        return out;
    }

    Frames frames;
    HandTrackerCore core;
    TrackerOutput out;
    uint64_t stamp = 1'000'000;
};

TEST_F(TrackerCore, HandIsNewThenTrackedThenLostOnceWhenItGoes) {
    const Vec3 ball{100, 50, 1500};
    step({ball});
    int16_t id = -1;
    ASSERT_EQ(core.startHandTracking(ball, &id), StartResult::kStarted);
    EXPECT_GT(id, 0);

    step({ball});
    ASSERT_EQ(out.handCount, 1);
    EXPECT_EQ(out.hands[0].id, id);
    EXPECT_EQ(out.hands[0].state, static_cast<uint32_t>(tracker::kHandNew | tracker::kHandTracked));
    // The ball's centre, from its visible surface.
    EXPECT_LT(std::sqrt(tracker::squaredDistance(out.hands[0].position, ball)), 30.0F);
    step({ball});
    EXPECT_EQ(out.hands[0].state, static_cast<uint32_t>(tracker::kHandTracked));

    // The ball goes away: coasting, then lost after about 0.6 s, reported in one frame only.
    int coasting = 0;
    int lostFrame = -1;
    for (int k = 0; k < 40; ++k) {
        step({});
        if (out.handCount == 0) continue;
        ASSERT_EQ(lostFrame, -1) << "reported after its loss";
        if ((out.hands[0].state & tracker::kHandLost) != 0) {
            EXPECT_EQ(out.hands[0].state, static_cast<uint32_t>(tracker::kHandLost));
            lostFrame = k;
        } else {
            EXPECT_EQ(out.hands[0].state,
                      static_cast<uint32_t>(tracker::kHandTracked | tracker::kHandCoasting));
            ++coasting;
        }
    }
    EXPECT_GE(lostFrame, 15);
    EXPECT_LE(lostFrame, 30);
    EXPECT_EQ(coasting, lostFrame);
    EXPECT_EQ(core.handCount(), 0);
}

TEST_F(TrackerCore, StartRequests) {
    step({{0, 0, 1500}});
    int16_t id = -1;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(core.startHandTracking({0, 0, 0}, &id), StartResult::kBadPosition);
    EXPECT_EQ(core.startHandTracking({0, 0, -100}, &id), StartResult::kBadPosition);
    EXPECT_EQ(core.startHandTracking({nan, 0, 1500}, &id), StartResult::kBadPosition);
    EXPECT_EQ(id, -1);

    // Distinct ids for hands apart; the same id for a request near a hand.
    std::vector<int16_t> ids;
    for (int i = 0; i < tracker::kMaxHands; ++i) {
        int16_t next = -1;
        ASSERT_EQ(
            core.startHandTracking({-1000.0F + 200.0F * static_cast<float>(i), 0, 2000}, &next),
            StartResult::kStarted);
        for (int16_t other : ids) EXPECT_NE(other, next);
        ids.push_back(next);
    }
    int16_t again = -1;
    EXPECT_EQ(core.startHandTracking({-1000 + 100, 0, 2000}, &again), StartResult::kAlreadyTracked);
    EXPECT_EQ(again, ids[0]);
    EXPECT_EQ(core.startHandTracking({0, 800, 2000}, &again), StartResult::kNoRoom);
    EXPECT_EQ(core.handCount(), tracker::kMaxHands);

    // A stopped hand is reported lost in the next frame and its slot is free again.
    EXPECT_TRUE(core.stopHandTracking(ids[3]));
    EXPECT_FALSE(core.stopHandTracking(ids[3]));
    step({});
    int lost = 0;
    for (int i = 0; i < out.handCount; ++i) {
        if (out.hands[i].id == ids[3]) {
            EXPECT_EQ(out.hands[i].state, static_cast<uint32_t>(tracker::kHandLost));
            ++lost;
        }
    }
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(core.startHandTracking({0, 800, 2000}, &again), StartResult::kStarted);
}

TEST_F(TrackerCore, SmoothingMovesAFractionOfTheWay) {
    core.setSmoothingFactor(2.0F);
    EXPECT_FLOAT_EQ(core.smoothingFactor(), 0.999F);
    core.setSmoothingFactor(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(core.smoothingFactor(), 0.0F);
    core.setSmoothingFactor(-1.0F);
    EXPECT_EQ(core.smoothingFactor(), 0.0F);

    // Two hands, one reported raw and one through a factor of 0.5, make the same 40 mm step.
    HandTrackerCore smoothed;
    smoothed.configure(frames.camera());
    smoothed.setSmoothingFactor(0.5F);
    TrackerOutput smoothOut;
    const Vec3 a{0, 0, 1500};
    const Vec3 b{40, 0, 1500};
    int16_t id = -1;
    for (HandTrackerCore* c : {&core, &smoothed})
        ASSERT_EQ(c->startHandTracking(a, &id), StartResult::kStarted);
    for (int k = 0; k < 4; ++k) {
        const tracker::DepthView view = frames.render({a});
        core.process(view, stamp, out);
        smoothed.process(view, stamp, smoothOut);
        stamp += 33'333;
    }
    const float rawBefore = out.hands[0].position.x;
    const float smoothBefore = smoothOut.hands[0].position.x;
    const tracker::DepthView view = frames.render({b});
    core.process(view, stamp, out);
    smoothed.process(view, stamp, smoothOut);
    const float rawStep = out.hands[0].position.x - rawBefore;
    EXPECT_NEAR(rawStep, 40.0F, 6.0F);
    EXPECT_NEAR(smoothOut.hands[0].position.x - smoothBefore, 0.5F * rawStep, 1.5F);
}

TEST_F(TrackerCore, FramesWithoutDataOrOfAnotherSizeAreHarmless) {
    int16_t id = -1;
    ASSERT_EQ(core.startHandTracking({0, 0, 1500}, &id), StartResult::kStarted);
    core.setGestureEnabled(tracker::kGestureWave, true);
    core.setGestureEnabled(tracker::kGestureClick, true);
    core.process(tracker::DepthView{}, stamp, out);
    ASSERT_EQ(out.handCount, 1);
    EXPECT_NE(out.hands[0].state & tracker::kHandCoasting, 0U);
    // A frame smaller than the stream's resolution, shifted by a crop origin.
    std::vector<uint16_t> small(100 * 80, 1200);
    core.process(tracker::DepthView{small.data(), 100, 80, 100, 110, 80}, stamp + 33'333, out);
    EXPECT_EQ(out.gestureCount, 0);
    // A new geometry drops every hand.
    core.configure(tracker::CameraModel(640, 480, 1.0F, 0.8F));
    EXPECT_EQ(core.handCount(), 0);
    EXPECT_EQ(core.camera().width(), 640);
}

}  // namespace
