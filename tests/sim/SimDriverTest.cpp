// The virtual sensor through OpenNI 2 itself, loaded from the staged driver
// folder: opening scene paths, properties, frames and their indices, the
// projection against OpenNI's converter, recordings, and bad scenes.
#include <OniCAPI.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/Renderer.h"

namespace {

std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir ? dir : ".";
}
std::string buildDir() {
    const char* dir = std::getenv("TOLVANE_BUILD_DIR");
    return dir ? dir : ".";
}

std::string tempFile(const std::string& name, const std::string& text = "") {
    const std::string path = testing::TempDir() + "sim_" + std::to_string(::getpid()) + "_" + name;
    if (!text.empty()) std::ofstream(path) << text;
    return path;
}

// OpenNI 2 and one device with its depth stream, closed in reverse order.
class OpenNITest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(oniInitialize(ONI_API_VERSION), ONI_STATUS_OK) << oniGetExtendedError();
    }
    void TearDown() override {
        if (stream_) {
            oniStreamStop(stream_);
            oniStreamDestroy(stream_);
        }
        if (device_) oniDeviceClose(device_);
        oniShutdown();
    }

    // Opens uri and creates its depth stream; nodrop sets the no-drop speed.
    void open(const std::string& uri, bool nodrop = true) {
        ASSERT_EQ(oniDeviceOpen(uri.c_str(), &device_), ONI_STATUS_OK) << oniGetExtendedError();
        if (nodrop) {
            const float speed = 0;
            ASSERT_EQ(oniDeviceSetProperty(device_, ONI_DEVICE_PROPERTY_PLAYBACK_SPEED, &speed,
                                           sizeof speed),
                      ONI_STATUS_OK);
        }
        ASSERT_EQ(oniDeviceCreateStream(device_, ONI_SENSOR_DEPTH, &stream_), ONI_STATUS_OK)
            << oniGetExtendedError();
    }

    template <class T>
    T streamProperty(int id) {
        T value{};
        int size = sizeof value;
        EXPECT_EQ(oniStreamGetProperty(stream_, id, &value, &size), ONI_STATUS_OK) << id;
        EXPECT_EQ(size, static_cast<int>(sizeof value));
        return value;
    }

    struct Read {
        int index = 0;
        uint64_t timestamp = 0;
        int width = 0, height = 0;
        std::vector<uint16_t> data;
    };
    // Waits up to timeoutMs for a frame; false on timeout.
    bool read(Read& out, int timeoutMs = 3000) {
        int ready = -1;
        if (oniWaitForAnyStream(&stream_, 1, &ready, timeoutMs) != ONI_STATUS_OK) return false;
        OniFrame* frame = nullptr;
        if (oniStreamReadFrame(stream_, &frame) != ONI_STATUS_OK || frame == nullptr) return false;
        out.index = frame->frameIndex;
        out.timestamp = frame->timestamp;
        out.width = frame->width;
        out.height = frame->height;
        const auto* p = static_cast<const uint16_t*>(frame->data);
        out.data.assign(p, p + frame->dataSize / 2);
        oniFrameRelease(frame);
        return true;
    }

    OniDeviceHandle device_ = nullptr;
    OniStreamHandle stream_ = nullptr;
};

std::vector<uint16_t> rendered(const std::string& path, int k, int width = 0, int height = 0) {
    std::string error;
    const auto scene = sim::loadScene(path, error);
    EXPECT_TRUE(scene) << error;
    sim::Renderer r(*scene, width ? width : scene->sensor.projection.width,
                    height ? height : scene->sensor.projection.height);
    std::vector<uint16_t> depth(static_cast<size_t>(r.width() * r.height()));
    r.render(k, depth.data());
    return depth;
}

const std::string kShort = sourceDir() + "/scenes/test/short.scene";

TEST_F(OpenNITest, OpensASceneAndReadsEveryFrameInOrder) {
    ASSERT_NO_FATAL_FAILURE(open(kShort));
    const auto mode = streamProperty<OniVideoMode>(ONI_STREAM_PROPERTY_VIDEO_MODE);
    EXPECT_EQ(mode.resolutionX, 320);
    EXPECT_EQ(mode.resolutionY, 240);
    EXPECT_EQ(mode.fps, 30);
    EXPECT_EQ(mode.pixelFormat, ONI_PIXEL_FORMAT_DEPTH_1_MM);
    EXPECT_NEAR(streamProperty<float>(ONI_STREAM_PROPERTY_HORIZONTAL_FOV), 58.1 * M_PI / 180, 1e-4);
    EXPECT_NEAR(streamProperty<float>(ONI_STREAM_PROPERTY_VERTICAL_FOV), 45.3 * M_PI / 180, 1e-4);
    EXPECT_EQ(streamProperty<int>(ONI_STREAM_PROPERTY_MAX_VALUE), 10000);
    EXPECT_EQ(streamProperty<OniCropping>(ONI_STREAM_PROPERTY_CROPPING).enabled, 0);

    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    Read f;
    for (int k = 0; k < 30; ++k) {  // the whole one-second scene, none dropped
        ASSERT_TRUE(read(f)) << "frame " << k;
        EXPECT_EQ(f.index, k + 1);
        EXPECT_EQ(f.timestamp, static_cast<uint64_t>(std::llround(k * 1e6 / 30)));
        if (k % 10 == 7) {
            EXPECT_EQ(f.data, rendered(kShort, k)) << "frame " << k;
        }
    }
    // The scene is over: nothing more comes.
    EXPECT_FALSE(read(f, 150));
}

TEST_F(OpenNITest, PacesFramesInRealTimeAndLoops) {
    const std::string path =
        tempFile("loop.scene", "sensor fps=20\nroom wall=2000\nend 0.15 loop=on\n");
    ASSERT_NO_FATAL_FAILURE(open(path, false));
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    Read f;
    const auto start = std::chrono::steady_clock::now();
    int last = 0;
    for (int n = 0; n < 6; ++n) {  // three frames a loop, twice
        ASSERT_TRUE(read(f));
        EXPECT_GT(f.index, last);
        last = f.index;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 0.2);  // frame 6 or later of 20 per second
    EXPECT_GE(last, 6);
    std::remove(path.c_str());
}

TEST_F(OpenNITest, WorldPointsLandOnTheConvertersPixel) {
    const sim::Vec3 p{-210, 140, 1300};
    const std::string path =
        tempFile("point.scene",
                 "sensor noise=off\nroom wall=none floor=none\nbox center=-210,140,1301 "
                 "size=12,12,2\nend 1\n");
    ASSERT_NO_FATAL_FAILURE(open(path));
    for (const int width : {320, 640}) {
        const OniVideoMode mode{ONI_PIXEL_FORMAT_DEPTH_1_MM, width, width * 3 / 4, 30};
        ASSERT_EQ(oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, sizeof mode),
                  ONI_STATUS_OK);
        ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
        const OniVideoMode other{ONI_PIXEL_FORMAT_DEPTH_1_MM, 960 - width, (960 - width) * 3 / 4,
                                 30};
        EXPECT_NE(
            oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_VIDEO_MODE, &other, sizeof other),
            ONI_STATUS_OK);  // not while streaming
        Read f;
        ASSERT_TRUE(read(f));
        ASSERT_EQ(f.width, width);
        float u = 0, v = 0, z = 0;
        ASSERT_EQ(oniCoordinateConverterWorldToDepth(stream_, p.x, p.y, p.z, &u, &v, &z),
                  ONI_STATUS_OK);
        const int i = static_cast<int>(std::lround(u)), j = static_cast<int>(std::lround(v));
        EXPECT_EQ(f.data[static_cast<size_t>(j * width + i)], 1300) << width;
        // Nothing else in the image: the point's pixels are around (u, v).
        double su = 0, sv = 0;
        int n = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                if (f.data[static_cast<size_t>(y * width + x)] != 0) su += x, sv += y, ++n;
        EXPECT_NEAR(su / n, u, 0.5);
        EXPECT_NEAR(sv / n, v, 0.5);
        oniStreamStop(stream_);
    }
    std::remove(path.c_str());
}

TEST_F(OpenNITest, CroppingAndMirroring) {
    ASSERT_NO_FATAL_FAILURE(open(kShort));
    const OniCropping crop{1, 100, 50, 64, 32};
    ASSERT_EQ(oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_CROPPING, &crop, sizeof crop),
              ONI_STATUS_OK);
    const OniBool mirror = TRUE;
    ASSERT_EQ(oniStreamSetProperty(stream_, ONI_STREAM_PROPERTY_MIRRORING, &mirror, sizeof mirror),
              ONI_STATUS_OK);
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    Read f;
    ASSERT_TRUE(read(f));
    ASSERT_EQ(f.width, 64);
    ASSERT_EQ(f.height, 32);
    const auto full = rendered(kShort, 0);
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(f.data[static_cast<size_t>(j * 64 + i)],
                      full[static_cast<size_t>((50 + j) * 320 + 319 - (100 + i))]);
}

TEST_F(OpenNITest, RecordingReplaysTheSameFrames) {
    const std::string oni = tempFile("rec.oni");
    ASSERT_NO_FATAL_FAILURE(open(kShort));
    OniRecorderHandle recorder = nullptr;
    ASSERT_EQ(oniCreateRecorder(oni.c_str(), &recorder), ONI_STATUS_OK);
    ASSERT_EQ(oniRecorderAttachStream(recorder, stream_, FALSE), ONI_STATUS_OK);
    ASSERT_EQ(oniRecorderStart(recorder), ONI_STATUS_OK);
    // The recorder starts on its own thread and ignores frames until then.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    Read f;
    constexpr int kFrames = 8;
    for (int k = 0; k < kFrames; ++k) ASSERT_TRUE(read(f));
    oniRecorderStop(recorder);
    oniRecorderDestroy(&recorder);
    oniStreamStop(stream_);
    oniStreamDestroy(stream_);
    stream_ = nullptr;
    oniDeviceClose(device_);
    device_ = nullptr;

    ASSERT_EQ(oniDeviceOpen(oni.c_str(), &device_), ONI_STATUS_OK) << oniGetExtendedError();
    ASSERT_EQ(oniDeviceCreateStream(device_, ONI_SENSOR_DEPTH, &stream_), ONI_STATUS_OK);
    EXPECT_NEAR(streamProperty<float>(ONI_STREAM_PROPERTY_HORIZONTAL_FOV), 58.1 * M_PI / 180, 1e-4);
    const int recorded = streamProperty<int>(ONI_STREAM_PROPERTY_NUMBER_OF_FRAMES);
    ASSERT_GE(recorded, kFrames - 2);
    ASSERT_LE(recorded, kFrames);
    // OpenNI's own player, in its manual mode: each wait gets the next frame.
    const float manual = -1;
    ASSERT_EQ(
        oniDeviceSetProperty(device_, ONI_DEVICE_PROPERTY_PLAYBACK_SPEED, &manual, sizeof manual),
        ONI_STATUS_OK);
    ASSERT_EQ(oniStreamStart(stream_), ONI_STATUS_OK);
    for (int k = kFrames - recorded; k < kFrames; ++k) {
        ASSERT_TRUE(read(f)) << k;
        EXPECT_EQ(f.data, rendered(kShort, k)) << "frame " << k;
    }
    oniStreamStop(stream_);
    std::remove(oni.c_str());
}

TEST_F(OpenNITest, BadScenesFailTheOpenWithTheirLine) {
    OniDeviceHandle device = nullptr;
    const std::string bad = sourceDir() + "/scenes/test/bad.scene";
    EXPECT_NE(oniDeviceOpen(bad.c_str(), &device), ONI_STATUS_OK);
    EXPECT_NE(std::string(oniGetExtendedError()).find("bad.scene:4: amplitude must be a number"),
              std::string::npos)
        << oniGetExtendedError();

    const std::string missing = sourceDir() + "/scenes/test/missing.scene";
    EXPECT_NE(oniDeviceOpen(missing.c_str(), &device), ONI_STATUS_OK);
    EXPECT_NE(std::string(oniGetExtendedError()).find("missing.scene: cannot open"),
              std::string::npos)
        << oniGetExtendedError();
}

TEST(RecordTool, RecordsAScene) {
    const std::string oni = tempFile("tool.oni");
    const std::string csv = tempFile("tool.csv");
    const std::string cmd = buildDir() + "/tolvane-record -device " + kShort +
                            " -frames 12 -truth " + csv + " " + oni + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_GT(std::filesystem::file_size(oni), 12u * 1000);
    std::ifstream in(csv);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, 1 + 12 * 2);  // header, two hands a frame
    std::remove(oni.c_str());
    std::remove(csv.c_str());

    EXPECT_NE(std::system((buildDir() + "/tolvane-record -frames 0 x.oni 2> /dev/null").c_str()),
              0);
}

}  // namespace
