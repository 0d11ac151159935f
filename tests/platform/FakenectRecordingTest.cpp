// fakenect recordings: what the writer makes passes the check, and each way
// a folder can fail to be one (which would end or crash fakenect) is named;
// the message for a Kinect that does not open.
#include "platform/FakenectRecording.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/KinectBus.h"

namespace {

namespace fs = std::filesystem;

class FakenectFolder : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("fakenect_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A recording of three frames.
    void write() {
        platform::FakenectWriter writer(dir_.string());
        ASSERT_TRUE(writer.ok()) << writer.error();
        const std::vector<uint16_t> raw(640 * 480, 700);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(writer.addDepth(raw.data(), 1000.0 + i / 30.0, 2002155u * i));
        EXPECT_EQ(writer.frames(), 3);
    }
    std::vector<std::string> names() {
        std::ifstream index(dir_ / "INDEX.txt");
        std::vector<std::string> out;
        for (std::string line; std::getline(index, line);) out.push_back(line);
        return out;
    }
    std::string check() {
        std::string error;
        return platform::checkFakenectRecording(dir_.string(), error) ? "ok" : error;
    }

    fs::path dir_;
};

TEST_F(FakenectFolder, WhatTheWriterMakesIsARecordingInFakenectsOwnNaming) {
    ASSERT_NO_FATAL_FAILURE(write());
    const auto n = names();
    ASSERT_EQ(n.size(), 3u);
    EXPECT_EQ(n[0], "d-1000.000000-0.pgm");
    EXPECT_EQ(n[1], "d-1000.033333-2002155.pgm");
    EXPECT_EQ(fs::file_size(dir_ / n[2]), 17u + 640 * 480 * 2);
    EXPECT_EQ(check(), "ok");
}

TEST_F(FakenectFolder, FoldersFakenectCannotPlayAreNamedWithTheReason) {
    EXPECT_NE(check().find("has no INDEX.txt"), std::string::npos) << check();
    ASSERT_NO_FATAL_FAILURE(write());
    const auto n = names();

    fs::resize_file(dir_ / n[1], 1000);
    EXPECT_NE(check().find("frame " + n[1] + " holds 1000 bytes"), std::string::npos) << check();

    std::ofstream(dir_ / n[1], std::ios::binary) << "P5 320 240 65535\n"
                                                 << std::string(320 * 240 * 2, '\0');
    EXPECT_NE(check().find("is 320 x 240, not 640 x 480"), std::string::npos) << check();

    fs::remove(dir_ / n[1]);
    EXPECT_NE(check().find("frame " + n[1] + " is missing"), std::string::npos) << check();

    std::ofstream(dir_ / "INDEX.txt") << "hello\n";
    EXPECT_NE(check().find("INDEX.txt:1: 'hello' is not a fakenect frame name"), std::string::npos)
        << check();
    std::ofstream(dir_ / "INDEX.txt") << "\n";
    EXPECT_NE(check().find("names no depth frame"), std::string::npos) << check();
}

TEST(KinectOpenFailure, APermissionProblemSaysToJoinPlugdevAndPlugInAgain) {
    const std::string access = platform::describeOpenFailure(1, -3, "");
    EXPECT_EQ(access.rfind("freenect://1: no permission", 0), 0u) << access;
    EXPECT_NE(access.find("plugdev"), std::string::npos);
    EXPECT_NE(access.find("plug the Kinect in again"), std::string::npos);
    EXPECT_NE(platform::describeOpenFailure(0, -1, "LIBUSB_ERROR_ACCESS").find("no permission"),
              std::string::npos);
    const std::string other = platform::describeOpenFailure(0, -1, "claim failed");
    EXPECT_NE(other.find("cannot be opened (claim failed)"), std::string::npos) << other;
}

}  // namespace
