// The virtual sensor's fault statements: how scenes say them, and what the
// OpenNI 2 driver then delivers (read through OpenNI 2 itself, in no-drop
// pacing, from a plain wall 2 m away without noise).
#include <OniCAPI.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "sim/Scene.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHeader =
    "sensor resolution=320x240 fps=30 noise=off speed=nodrop\nroom wall=2000 floor=none\n";

std::string sceneFile(const std::string& name, const std::string& text) {
    const std::string path =
        testing::TempDir() + "faults_" + std::to_string(::getpid()) + "_" + name + ".scene";
    std::ofstream(path) << kHeader << text;
    return path;
}

TEST(FaultStatements, AreReadWithTheirTimesAndRefusedWhenWrong) {
    std::string error;
    const auto scene = sim::parseScene(kHeader +
                                           "fault stall at=2 for=1.5\n"
                                           "fault zeros at=0.5\n"
                                           "fault range at=1 for=0.2\n"
                                           "fault size at=3 for=1\n"
                                           "fault empty at=4\n"
                                           "fault vanish at=5\n"
                                           "end 6\n",
                                       "f.scene", error);
    ASSERT_TRUE(scene) << error;
    ASSERT_EQ(scene->faults.size(), 6u);
    EXPECT_EQ(scene->faults[0].kind, sim::Fault::Kind::kStall);
    EXPECT_EQ(scene->faults[0].at, 2.0);
    EXPECT_EQ(scene->faults[0].duration, 1.5);
    EXPECT_EQ(scene->faults[1].kind, sim::Fault::Kind::kZeros);
    EXPECT_EQ(scene->faults[1].duration, 0.0);  // one frame
    EXPECT_EQ(scene->faults[5].kind, sim::Fault::Kind::kVanish);
    EXPECT_EQ(scene->frameAt(0.5), 15);
    EXPECT_EQ(scene->frameAt(0.51), 16);

    const struct {
        const char* line;
        const char* message;
    } bad[] = {
        {"fault", "fault needs a kind"},
        {"fault melt at=1", "fault kind must be"},
        {"fault zeros", "fault needs at=seconds"},
        {"fault zeros at=-1", "at must be between"},
        {"fault stall at=1", "a stall needs for=seconds"},
        {"fault stall at=1 for=0", "for must be between"},
        {"fault vanish at=1 for=2", "unknown option 'for'"},
        {"fault zeros at=1 every=2", "unknown option 'every'"},
        {"person fault", "cannot name a person"},
    };
    for (const auto& b : bad) {
        error.clear();
        EXPECT_FALSE(sim::parseScene(kHeader + b.line + "\n", "bad.scene", error)) << b.line;
        EXPECT_NE(error.find("bad.scene:3: "), std::string::npos) << error;
        EXPECT_NE(error.find(b.message), std::string::npos) << b.line << ": " << error;
    }
    std::string many = kHeader;
    for (int i = 0; i <= sim::kMaxFaults; ++i) many += "fault zeros at=1\n";
    EXPECT_FALSE(sim::parseScene(many, "many.scene", error));
    EXPECT_NE(error.find("more than 64 faults"), std::string::npos) << error;
}

struct Frame {
    int index = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    int dataSize = 0;
    OniVideoMode mode{};
    std::vector<uint16_t> data;
};

class FaultDevice : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(oniInitialize(ONI_API_VERSION), ONI_STATUS_OK); }
    void TearDown() override {
        if (stream_ != nullptr) {
            oniStreamStop(stream_);
            oniStreamDestroy(stream_);
        }
        if (device_ != nullptr) oniDeviceClose(device_);
        oniShutdown();
    }
    void open(const std::string& path) {
        ASSERT_EQ(oniDeviceOpen(path.c_str(), &device_), ONI_STATUS_OK) << oniGetExtendedError();
        ASSERT_EQ(oniDeviceCreateStream(device_, ONI_SENSOR_DEPTH, &stream_), ONI_STATUS_OK);
        ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    }
    // The next frame, or false when none comes within timeoutMs.
    bool read(Frame& f, int timeoutMs = 3000) {
        int ready = -1;
        if (oniWaitForAnyStream(&stream_, 1, &ready, timeoutMs) != ONI_STATUS_OK) return false;
        OniFrame* frame = nullptr;
        if (oniStreamReadFrame(stream_, &frame) != ONI_STATUS_OK || frame == nullptr) return false;
        f.index = frame->frameIndex;
        f.width = frame->width;
        f.height = frame->height;
        f.stride = frame->stride;
        f.dataSize = frame->dataSize;
        f.mode = frame->videoMode;
        const auto* p = static_cast<const uint16_t*>(frame->data);
        f.data.assign(p, p + std::max(0, frame->dataSize) / 2);
        oniFrameRelease(frame);
        return true;
    }

    OniDeviceHandle device_ = nullptr;
    OniStreamHandle stream_ = nullptr;
};

TEST_F(FaultDevice, ZerosRangeAndEmptyFramesComeWhereTheSceneSays) {
    ASSERT_NO_FATAL_FAILURE(open(sceneFile(
        "pixels",
        "fault zeros at=0.1 for=0.066\nfault range at=0.2\nfault empty at=0.3\nend 0.5\n")));
    Frame f;
    for (int k = 0; k < 15; ++k) {
        ASSERT_TRUE(read(f)) << k;
        ASSERT_EQ(f.index, k + 1);
        const bool zeros = k == 3 || k == 4;
        const bool range = k == 6;
        const bool empty = k == 9;
        if (empty) {
            EXPECT_EQ(f.width, 0);
            EXPECT_EQ(f.height, 0);
            EXPECT_EQ(f.dataSize, 0);
            continue;
        }
        ASSERT_EQ(f.data.size(), 320u * 240u) << k;
        const auto [lo, hi] = std::minmax_element(f.data.begin(), f.data.end());
        if (zeros) {
            EXPECT_EQ(*hi, 0) << k;
        } else if (range) {
            EXPECT_GE(*lo, 10000) << k;
            EXPECT_GT(*hi, 60000) << k;
        } else {
            EXPECT_GE(*lo, 1990) << k;  // the wall
            EXPECT_LE(*hi, 2700) << k;
        }
    }
}

TEST_F(FaultDevice, SizeFramesDisagreeWithTheModeInFiveWaysWithinTheirBuffer) {
    ASSERT_NO_FATAL_FAILURE(open(sceneFile("size", "fault size at=0 for=0.2\nend 0.3\n")));
    const int capacity = 320 * 240 * 2;
    Frame f;
    std::vector<std::vector<int>> seen;
    for (int k = 0; k < 7; ++k) {
        ASSERT_TRUE(read(f));
        EXPECT_EQ(f.mode.resolutionX, 320);
        EXPECT_EQ(f.mode.resolutionY, 240);
        EXPECT_LE(f.dataSize, capacity);
        seen.push_back({f.width, f.height, f.stride, f.dataSize});
    }
    const std::vector<std::vector<int>> expected = {
        {160, 120, 320, 160 * 120 * 2},  // a quarter, consistent in itself
        {320, 240, 1280, capacity},      // rows past the data
        {640, 120, 1280, capacity},      // wider than the mode
        {320, 240, 640, capacity / 2},   // half the bytes
        {320, 240, 320, capacity},       // stride shorter than a row
        {160, 120, 320, 160 * 120 * 2},  // and again
        {320, 240, 640, capacity},       // the window is over
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(FaultDevice, AStallHoldsTheNextFrameBackThenTheSceneGoesOn) {
    ASSERT_NO_FATAL_FAILURE(open(sceneFile("stall", "fault stall at=0.1 for=0.8\nend 0.3\n")));
    Frame f;
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(read(f));
    const auto t0 = Clock::now();
    EXPECT_FALSE(read(f, 400)) << "a frame came during the stall";
    ASSERT_TRUE(read(f, 2000));
    const double waited = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GT(waited, 0.7);
    EXPECT_LT(waited, 1.5);
    EXPECT_EQ(f.index, 4);  // nothing was skipped
    ASSERT_TRUE(read(f, 300));
    EXPECT_EQ(f.index, 5);
}

TEST_F(FaultDevice, AfterAVanishNothingComesAndTheStreamDoesNotStartAgain) {
    ASSERT_NO_FATAL_FAILURE(open(sceneFile("vanish", "fault vanish at=0.1\nend 1 loop=on\n")));
    Frame f;
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(read(f));
    EXPECT_FALSE(read(f, 300));
    EXPECT_FALSE(read(f, 300));
    oniStreamStop(stream_);
    EXPECT_NE(oniStreamStart(stream_), ONI_STATUS_OK);
}

}  // namespace
