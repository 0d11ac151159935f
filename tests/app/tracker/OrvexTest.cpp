// The Orvex operations on virtual-sensor devices opened through OpenNI 2: frames, gestures and
// hands as the viewer uses them, conversions against OpenNI's own converter, the read timeout
// of a sensor that stops, and calls made wrongly.
#include <OniCAPI.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/tracker/Orvex.h"

namespace {

std::string scenePath(const std::string& name) {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return std::string(dir ? dir : ".") + "/tests/app/tracker/scenes/" + name;
}

class Orvex : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(oniInitialize(ONI_API_VERSION), ONI_STATUS_OK) << oniGetExtendedError();
        ASSERT_EQ(orvexInitialize(), ORVEX_STATUS_OK);
    }
    void TearDown() override {
        for (OrvexHandTrackerFrame* f : held) orvexHandTrackerFrameRelease(tracker, f);
        if (tracker != nullptr) {
            EXPECT_EQ(orvexShutdownHandTracker(tracker), ORVEX_STATUS_OK);
        }
        if (stream != nullptr) oniStreamDestroy(stream);
        orvexShutdown();
        if (device != nullptr) oniDeviceClose(device);
        oniShutdown();
    }

    void open(const std::string& scene) {
        ASSERT_EQ(oniDeviceOpen(scenePath(scene).c_str(), &device), ONI_STATUS_OK)
            << oniGetExtendedError();
        ASSERT_EQ(orvexInitializeHandTrackerByDevice(device, &tracker), ORVEX_STATUS_OK)
            << orvexGetLastError();
        ASSERT_NE(tracker, nullptr);
    }

    OniDeviceHandle device = nullptr;
    OniStreamHandle stream = nullptr;
    OrvexHandTrackerHandle tracker = nullptr;
    std::vector<OrvexHandTrackerFrame*> held;
};

TEST_F(Orvex, WaveThenTrackedHandAsTheViewerSeesThem) {
    open("short_wave.scene");
    ASSERT_EQ(orvexStartGestureDetection(tracker, ORVEX_GESTURE_WAVE), ORVEX_STATUS_OK);
    ASSERT_EQ(orvexStartGestureDetection(tracker, ORVEX_GESTURE_CLICK), ORVEX_STATUS_OK);
    ASSERT_EQ(orvexSetHandSmoothingFactor(tracker, 0.05F), ORVEX_STATUS_OK);
    int frames = 0;
    int waves = 0;
    int trackedAfterWave = 0;
    int lastIndex = -1;
    for (;;) {
        OrvexHandTrackerFrame* frame = nullptr;
        if (orvexReadHandTrackerFrame(tracker, &frame) != ORVEX_STATUS_OK) break;
        ++frames;
        ASSERT_NE(frame->depthFrame, nullptr);
        EXPECT_EQ(frame->depthFrame->width, 320);
        EXPECT_EQ(frame->depthFrame->height, 240);
        EXPECT_GT(frame->frameIndex, lastIndex);
        lastIndex = frame->frameIndex;
        for (int i = 0; i < frame->gestureCount; ++i) {
            const OrvexGestureData& g = frame->gestures[i];
            if ((g.state & ORVEX_GESTURE_STATE_COMPLETED) == 0) continue;
            EXPECT_EQ(g.type, ORVEX_GESTURE_WAVE);
            // The right hand is raised about 2 m away, to the right of the sensor's axis.
            EXPECT_NEAR(g.currentPosition.z, 2000, 100);
            EXPECT_GT(g.currentPosition.x, 0);
            ++waves;
            OrvexHandId id = -1;
            EXPECT_EQ(orvexStartHandTracking(tracker, &g.currentPosition, &id), ORVEX_STATUS_OK);
            EXPECT_GT(id, 0);
        }
        for (int i = 0; i < frame->handCount; ++i) {
            if ((frame->hands[i].state & ORVEX_HAND_STATE_TRACKED) != 0) ++trackedAfterWave;
        }
        ASSERT_EQ(orvexHandTrackerFrameRelease(tracker, frame), ORVEX_STATUS_OK);
    }
    EXPECT_EQ(frames, 120);  // 4 s at 30 fps, none dropped
    EXPECT_EQ(waves, 1);
    EXPECT_GT(trackedAfterWave, 30);
}

TEST_F(Orvex, ConversionsMatchOpenNIAndRoundTrip) {
    for (const char* scene : {"short_wave.scene", "vga_still.scene"}) {
        SCOPED_TRACE(scene);
        open(scene);
        ASSERT_EQ(oniDeviceCreateStream(device, ONI_SENSOR_DEPTH, &stream), ONI_STATUS_OK);
        for (int v = 0; v <= 480; v += 37) {
            for (int u = 0; u <= 640; u += 53) {
                for (int z : {500, 1234, 2999, 4100}) {
                    float x = 0;
                    float y = 0;
                    ASSERT_EQ(orvexConvertDepthCoordinatesToHand(tracker, u, v, z, &x, &y),
                              ORVEX_STATUS_OK);
                    float ox = 0;
                    float oy = 0;
                    float oz = 0;
                    oniCoordinateConverterDepthToWorld(stream, static_cast<float>(u),
                                                       static_cast<float>(v), static_cast<float>(z),
                                                       &ox, &oy, &oz);
                    EXPECT_FLOAT_EQ(x, ox);
                    EXPECT_FLOAT_EQ(y, oy);
                    float du = 0;
                    float dv = 0;
                    ASSERT_EQ(orvexConvertHandCoordinatesToDepth(tracker, x, y,
                                                                 static_cast<float>(z), &du, &dv),
                              ORVEX_STATUS_OK);
                    float ou = 0;
                    float ov = 0;
                    oniCoordinateConverterWorldToDepth(stream, x, y, static_cast<float>(z), &ou,
                                                       &ov, &oz);
                    EXPECT_FLOAT_EQ(du, ou);
                    EXPECT_FLOAT_EQ(dv, ov);
                    EXPECT_NEAR(du, u, 1e-3);
                    EXPECT_NEAR(dv, v, 1e-3);
                }
            }
        }
        oniStreamDestroy(stream);
        stream = nullptr;
        EXPECT_EQ(orvexShutdownHandTracker(tracker), ORVEX_STATUS_OK);
        tracker = nullptr;
        oniDeviceClose(device);
        device = nullptr;
    }
}

TEST_F(Orvex, ReadFailsAfterTheTimeoutWhenFramesStop) {
    open("stops.scene");  // a quarter of a second, not looped
    int frames = 0;
    OrvexStatus status = ORVEX_STATUS_OK;
    OrvexHandTrackerFrame* frame = nullptr;
    double lastRead = 0;
    while (status == ORVEX_STATUS_OK && frames < 20) {
        const auto start = std::chrono::steady_clock::now();
        status = orvexReadHandTrackerFrame(tracker, &frame);
        lastRead = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status == ORVEX_STATUS_OK) {
            ++frames;
            orvexHandTrackerFrameRelease(tracker, frame);
        }
    }
    EXPECT_EQ(frames, 8);
    EXPECT_EQ(status, ORVEX_STATUS_TIMEOUT);
    EXPECT_EQ(frame, nullptr);
    EXPECT_GE(lastRead, 0.9);
    EXPECT_LT(lastRead, 2.0);
    EXPECT_STRNE(orvexGetLastError(), "");
    EXPECT_EQ(orvexHandTrackerFrameRelease(tracker, frame), ORVEX_STATUS_OK);  // NULL is fine
}

TEST_F(Orvex, CallsMadeWrongly) {
    OrvexHandTrackerHandle none = nullptr;
    EXPECT_EQ(orvexInitializeHandTrackerByDevice(nullptr, &none), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(oniDeviceOpen(scenePath("short_wave.scene").c_str(), &device), ONI_STATUS_OK);
    orvexShutdown();
    EXPECT_EQ(orvexInitializeHandTrackerByDevice(device, &none), ORVEX_STATUS_OUT_OF_FLOW);
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(orvexInitialize(), ORVEX_STATUS_OK);
    ASSERT_EQ(orvexInitializeHandTrackerByDevice(device, &tracker), ORVEX_STATUS_OK);

    OrvexHandTrackerFrame* frame = nullptr;
    EXPECT_EQ(orvexReadHandTrackerFrame(nullptr, &frame), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(orvexReadHandTrackerFrame(tracker, nullptr), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(orvexStartGestureDetection(tracker, 7), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(orvexStartGestureDetection(nullptr, ORVEX_GESTURE_WAVE), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(orvexStartHandTracking(tracker, nullptr, nullptr), ORVEX_STATUS_BAD_ARGUMENT);
    const OrvexPoint3f behind{0, 0, -5};
    OrvexHandId id = -1;
    EXPECT_EQ(orvexStartHandTracking(tracker, &behind, &id), ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(orvexStopHandTracking(tracker, 1234), ORVEX_STATUS_BAD_ARGUMENT);
    float x = 0;
    EXPECT_EQ(orvexConvertDepthCoordinatesToHand(nullptr, 1, 1, 1000, &x, &x),
              ORVEX_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(orvexConvertHandCoordinatesToDepth(tracker, 1, 1, 1000, nullptr, &x),
              ORVEX_STATUS_BAD_ARGUMENT);

    // Frames held: up to the limit, then reads fail until one is given back.
    for (int i = 0; i < ORVEX_MAX_FRAMES_HELD; ++i) {
        ASSERT_EQ(orvexReadHandTrackerFrame(tracker, &frame), ORVEX_STATUS_OK);
        held.push_back(frame);
    }
    EXPECT_EQ(orvexReadHandTrackerFrame(tracker, &frame), ORVEX_STATUS_ERROR);
    EXPECT_EQ(frame, nullptr);
    OrvexHandTrackerFrame stranger{};
    EXPECT_EQ(orvexHandTrackerFrameRelease(tracker, &stranger), ORVEX_STATUS_BAD_ARGUMENT);
    ASSERT_EQ(orvexHandTrackerFrameRelease(tracker, held.back()), ORVEX_STATUS_OK);
    EXPECT_EQ(orvexHandTrackerFrameRelease(tracker, held.back()), ORVEX_STATUS_BAD_ARGUMENT);
    held.pop_back();
    EXPECT_EQ(orvexReadHandTrackerFrame(tracker, &frame), ORVEX_STATUS_OK);
    held.push_back(frame);
    // The rest are given back by the tracker's shutdown in TearDown.
    held.clear();
}

}  // namespace
