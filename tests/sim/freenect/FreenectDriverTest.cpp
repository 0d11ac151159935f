// The Kinect's driver through OpenNI 2 itself, loaded from the staged driver
// folder, with fakenect (LD_LIBRARY_PATH, set by CTest) playing recordings
// written here: the device list, the stream's properties, frames with the
// camera's indices and time stamps, 320 x 240 and mirroring, the end of a
// recording, and folders fakenect cannot play. fakenect plays one recording
// per process, so one test plays it all.
#include <OniCAPI.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "platform/FakenectRecording.h"
#include "sim/freenect/KinectDepth.h"

namespace {

namespace fs = std::filesystem;
using sim::freenect::rawToMillimetres;

constexpr uint32_t kTicks = 2002155;                       // one frame
constexpr uint32_t kFirstTick = 0xFFFFFFFFu - 3 * kTicks;  // the clock wraps at frame 4

struct Folder {
    fs::path path;
    explicit Folder(const std::string& name)
        : path(fs::path(testing::TempDir()) / (name + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
};

// Frames 0 to 9 but 2 (dropped); frame i reads raw 400 + i, with no reading
// in the top-left pixel.
void writeRecording(const fs::path& dir) {
    platform::FakenectWriter writer(dir.string());
    ASSERT_TRUE(writer.ok()) << writer.error();
    std::vector<uint16_t> raw(640 * 480);
    for (uint32_t i = 0; i < 10; ++i) {
        if (i == 2) continue;
        std::fill(raw.begin(), raw.end(), static_cast<uint16_t>(400 + i));
        raw[0] = sim::freenect::kNoRawReading;
        ASSERT_TRUE(writer.addDepth(raw.data(), 5000.0 + i / 30.0, kFirstTick + i * kTicks));
    }
}

class OpenNI : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(oniInitialize(ONI_API_VERSION), ONI_STATUS_OK) << oniGetExtendedError();
    }
    void TearDown() override {
        if (stream_ != nullptr) {
            oniStreamStop(stream_);
            oniStreamDestroy(stream_);
        }
        if (device_ != nullptr) oniDeviceClose(device_);
        oniShutdown();
        unsetenv("FAKENECT_PATH");
    }

    // The open's result and OpenNI's error text.
    std::string openFails(const char* uri) {
        if (oniDeviceOpen(uri, &device_) == ONI_STATUS_OK) return "opened";
        return oniGetExtendedError();
    }

    template <class T>
    T property(int id) {
        T value{};
        int size = sizeof value;
        EXPECT_EQ(oniStreamGetProperty(stream_, id, &value, &size), ONI_STATUS_OK) << id;
        return value;
    }

    struct Read {
        int index = 0;
        uint64_t timestamp = 0;
        int width = 0;
        std::vector<uint16_t> data;
    };
    bool read(Read& out, int timeoutMs = 5000) {
        int ready = -1;
        if (oniWaitForAnyStream(&stream_, 1, &ready, timeoutMs) != ONI_STATUS_OK) return false;
        OniFrame* frame = nullptr;
        if (oniStreamReadFrame(stream_, &frame) != ONI_STATUS_OK) return false;
        out.index = frame->frameIndex;
        out.timestamp = frame->timestamp;
        out.width = frame->width;
        const auto* p = static_cast<const uint16_t*>(frame->data);
        out.data.assign(p, p + frame->dataSize / 2);
        oniFrameRelease(frame);
        return true;
    }

    OniDeviceHandle device_ = nullptr;
    OniStreamHandle stream_ = nullptr;
};

TEST_F(OpenNI, FoldersFakenectCannotPlayFailTheOpenWithTheReasonInsteadOfEndingTheProcess) {
    EXPECT_NE(openFails("freenect://0").find("FAKENECT_PATH is not set"), std::string::npos);
    EXPECT_NE(openFails("freenect://7").find("freenect://7"), std::string::npos);

    Folder empty("not_a_recording");
    setenv("FAKENECT_PATH", empty.path.c_str(), 1);
    EXPECT_NE(openFails("freenect://0").find("is not a fakenect recording"), std::string::npos);

    // Frames of the wrong size (fakenect itself would crash on them).
    std::ofstream(empty.path / "INDEX.txt") << "d-1.0-100.pgm\n";
    std::ofstream(empty.path / "d-1.0-100.pgm") << "P5 320 240 65535\n"
                                                << std::string(320 * 240 * 2, '\0');
    EXPECT_NE(openFails("freenect://0").find("is 320 x 240, not 640 x 480"), std::string::npos);
}

TEST_F(OpenNI, ARecordingPlaysAsAKinectWithItsClockInBothModesAndThenEnds) {
    Folder dir("recording");
    ASSERT_NO_FATAL_FAILURE(writeRecording(dir.path));
    oniShutdown();  // the driver counts Kinects when OpenNI starts
    setenv("FAKENECT_PATH", dir.path.c_str(), 1);
    ASSERT_EQ(oniInitialize(ONI_API_VERSION), ONI_STATUS_OK);

    OniDeviceInfo* list = nullptr;
    int count = 0;
    ASSERT_EQ(oniGetDeviceList(&list, &count), ONI_STATUS_OK);
    std::string uris;
    for (int i = 0; i < count; ++i) {
        uris += list[i].uri;
        if (std::string(list[i].uri) == "freenect://0") {
            EXPECT_STREQ(list[i].vendor, "Microsoft");
            EXPECT_NE(std::string(list[i].name).find("Kinect"), std::string::npos);
        }
    }
    oniReleaseDeviceList(list);
    EXPECT_EQ(uris, "freenect://0");

    ASSERT_EQ(oniDeviceOpen(nullptr, &device_), ONI_STATUS_OK) << oniGetExtendedError();
    const OniSensorInfo* sensor = oniDeviceGetSensorInfo(device_, ONI_SENSOR_DEPTH);
    ASSERT_NE(sensor, nullptr);
    ASSERT_EQ(sensor->numSupportedVideoModes, 2);
    ASSERT_EQ(oniDeviceCreateStream(device_, ONI_SENSOR_DEPTH, &stream_), ONI_STATUS_OK);
    const auto mode = property<OniVideoMode>(ONI_STREAM_PROPERTY_VIDEO_MODE);
    EXPECT_EQ(std::vector<int>({mode.pixelFormat, mode.resolutionX, mode.resolutionY, mode.fps}),
              std::vector<int>({ONI_PIXEL_FORMAT_DEPTH_1_MM, 640, 480, 30}));
    EXPECT_NEAR(property<float>(ONI_STREAM_PROPERTY_HORIZONTAL_FOV), 58.5 * std::numbers::pi / 180,
                1e-5);
    EXPECT_NEAR(property<float>(ONI_STREAM_PROPERTY_VERTICAL_FOV), 45.6 * std::numbers::pi / 180,
                1e-5);
    EXPECT_EQ(property<int>(ONI_STREAM_PROPERTY_MIN_VALUE), 0);
    EXPECT_EQ(property<int>(ONI_STREAM_PROPERTY_MAX_VALUE), 10000);
    EXPECT_EQ(property<OniCropping>(ONI_STREAM_PROPERTY_CROPPING).enabled, 0);

    // Frames 0, 1, 3, 4: the drop and the clock's wrap show in index and time.
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    Read f;
    const int indices[] = {1, 2, 4, 5};
    const int frames[] = {0, 1, 3, 4};
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(read(f)) << k;
        EXPECT_EQ(f.index, indices[k]);
        EXPECT_EQ(f.timestamp, static_cast<uint64_t>(std::llround(frames[k] * kTicks / 60.0)));
        ASSERT_EQ(f.data.size(), 640u * 480u);
        EXPECT_EQ(f.data[0], 0);
        EXPECT_EQ(f.data[1], rawToMillimetres(static_cast<uint16_t>(400 + frames[k])));
    }
    oniStreamStop(stream_);

    // 320 x 240, mirrored: the pixel without a reading is now top right.
    OniVideoMode qvga = mode;
    qvga.resolutionX = 320;
    qvga.resolutionY = 240;
    ASSERT_EQ(oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_VIDEO_MODE, &qvga, sizeof qvga),
              ONI_STATUS_OK);
    const OniBool mirror = TRUE;
    ASSERT_EQ(oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_MIRRORING, &mirror, sizeof mirror),
              ONI_STATUS_OK);
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    // The rest of the recording, to its last frame (raw 409).
    uint16_t last = 0;
    while (read(f, 2000)) {
        ASSERT_EQ(f.width, 320);
        ASSERT_EQ(f.data.size(), 320u * 240u);
        EXPECT_EQ(f.data[319], 0);
        last = f.data[0];
    }
    EXPECT_EQ(last, rawToMillimetres(409));
    // The recording is over: nothing more comes, and stopping does not hang.
    EXPECT_FALSE(read(f, 300));
}

}  // namespace
