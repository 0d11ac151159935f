// The frame loop in-process on scenes of the virtual sensor, with a recording
// desktop and picture window: what the hands do becomes key records, and a
// sensor that stops sending lets go of what the hands held.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/FrameLoop.h"
#include "platform/RecordingDesktop.h"
#include "platform/RecordingPictureWindow.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"

namespace {

constexpr uint16_t kVkRight = 0x27;

struct Keys {
    std::vector<std::string> lines;  // "down 39", "up 65"
};

Keys keysOf(const std::vector<platform::InputRecord>& records) {
    Keys k;
    for (const platform::InputRecord& r : records) {
        if (r.type != platform::InputRecord::Type::Key) continue;
        k.lines.push_back(
            std::string((r.key.flags & platform::KEYEVENTF_KEYUP) != 0 ? "up " : "down ") +
            std::to_string(r.key.vk));
    }
    return k;
}

class SceneLoop : public ::testing::Test {
  protected:
    int open(const std::string& scene, const TempFile& config) {
        FrameLoop::Settings settings;
        settings.device = sourceDir() + "/tests/app/scenes/" + scene;
        settings.configPath = config.path();
        return loop.open(settings);
    }

    platform::RecordingDesktop desktop{platform::ScreenSize{1920, 1080}};
    FrameLoop loop{desktop, std::make_unique<platform::RecordingPictureWindow>()};
};

}  // namespace

TEST_F(SceneLoop, ASwipeClicksTheKeyOnceAndThePictureFollowsTheScene) {
    const TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    ASSERT_EQ(open("swipe_right.scene", config), 0) << loop.error();
    for (int i = 0; i < 240; ++i) ASSERT_EQ(loop.step(), FrameLoop::Step::Frame) << "frame " << i;
    EXPECT_TRUE(loop.depthImage().allocated());
    EXPECT_EQ(loop.shownWidth(), loop.depthWidth());
    const std::string vk = std::to_string(kVkRight);
    EXPECT_EQ(keysOf(desktop.records()).lines,
              (std::vector<std::string>{"down " + vk, "up " + vk}));
}

TEST_F(SceneLoop, AStalledSensorReleasesTheHeldKeyAfterTheTimedOutReads) {
    const TempFile config("HAND_PUSH 10 KEY_HOLD a 0 0\n");
    ASSERT_EQ(open("guard.scene", config), 0) << loop.error();
    FrameLoop::Step step = FrameLoop::Step::Frame;
    int misses = 0;
    // The scene's frames, then reads that time out (about a second each).
    for (int i = 0; i < 400 && step != FrameLoop::Step::HandsGone; ++i) {
        step = loop.step();
        if (step == FrameLoop::Step::Missed) {
            ++misses;
            // Until the hands count as gone, the key stays down.
            EXPECT_EQ(keysOf(desktop.records()).lines, (std::vector<std::string>{"down 65"}));
        }
    }
    ASSERT_EQ(step, FrameLoop::Step::HandsGone);
    EXPECT_EQ(misses, FrameLoop::kReadsBeforeNoHands - 1);
    EXPECT_EQ(loop.handCount(), 0);
    EXPECT_EQ(keysOf(desktop.records()).lines, (std::vector<std::string>{"down 65", "up 65"}));
}
