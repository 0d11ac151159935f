// The Kinect driver's frame work without a camera: its modes, raw disparity
// to millimetres, 320 x 240 and mirroring, the camera clock, and the event
// thread over scripted cameras.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/RecordingKinectBus.h"
#include "sim/freenect/KinectDepth.h"
#include "sim/freenect/KinectPump.h"

namespace {

using platform::KinectDepthUnit;
using namespace sim::freenect;

constexpr int W = platform::kKinectWidth;
constexpr int H = platform::kKinectHeight;

TEST(KinectDepth, OffersVgaFirstThenQvgaAt30Fps) {
    EXPECT_EQ(kDepthModes[0].width * 1000 + kDepthModes[0].height, 640480);
    EXPECT_TRUE(offered(320, 240, 30));
    EXPECT_FALSE(offered(320, 240, 60));
    EXPECT_FALSE(offered(1280, 1024, 30));
}

TEST(KinectDepth, RawValuesBecomeMillimetresByLibfreenectsApproximation) {
    EXPECT_EQ(rawToMillimetres(0), 300);   // 1000 / 3.3309...
    EXPECT_EQ(rawToMillimetres(2047), 0);  // no reading
    EXPECT_EQ(rawToMillimetres(4095), 0);  // not a raw value
    EXPECT_EQ(rawToMillimetres(1084), 0);  // beyond 10 m
    EXPECT_EQ(rawToMillimetres(2000), 0);  // the formula's far side
    for (int raw = 0; raw < 1050; raw += 7) {
        const double mm = 1000.0 / (raw * -0.0030711016 + 3.3309495161);
        EXPECT_NEAR(rawToMillimetres(static_cast<uint16_t>(raw)), mm, 0.5) << raw;
    }
    // Back again: every depth a raw value gives leads to that raw value.
    for (int raw = 0; raw < 1000; ++raw) {
        const uint16_t mm = rawToMillimetres(static_cast<uint16_t>(raw));
        EXPECT_EQ(rawToMillimetres(millimetresToRaw(mm)), mm) << raw;
    }
    EXPECT_EQ(millimetresToRaw(0), kNoRawReading);
}

TEST(KinectDepth, ConvertsWholeFramesAndMakesQvgaMirroredOrNot) {
    // Raw value at (x, y): x + y, so every pixel says where it came from.
    std::vector<uint16_t> raw(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) raw[y * W + x] = static_cast<uint16_t>(x + y);
    raw[0] = kNoRawReading;
    const DepthConverter converter;
    std::vector<uint16_t> out(W * H, 1);

    converter.convert(raw.data(), KinectDepthUnit::kRaw11Bit, 640, 480, false, out.data());
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[5 * W + 7], rawToMillimetres(12));
    EXPECT_EQ(out[H * W - 1], rawToMillimetres(W - 1 + H - 1));

    converter.convert(raw.data(), KinectDepthUnit::kRaw11Bit, 640, 480, true, out.data());
    EXPECT_EQ(out[W - 1], 0);
    EXPECT_EQ(out[5 * W + 7], rawToMillimetres((W - 1 - 7) + 5));

    std::fill(out.begin(), out.end(), 1);
    converter.convert(raw.data(), KinectDepthUnit::kRaw11Bit, 320, 240, false, out.data());
    EXPECT_EQ(out[5 * 320 + 7], rawToMillimetres(2 * 7 + 2 * 5));
    EXPECT_EQ(out[239 * 320 + 319], rawToMillimetres(638 + 478));
    EXPECT_EQ(out[320 * 240], 1) << "nothing written past 320 x 240";

    converter.convert(raw.data(), KinectDepthUnit::kRaw11Bit, 320, 240, true, out.data());
    EXPECT_EQ(out[319], 0) << "the mirrored top-left corner";
    EXPECT_EQ(out[5 * 320 + 7], rawToMillimetres((638 - 2 * 7) + 2 * 5));

    // Millimetres from the camera pass through; beyond the range is none.
    std::vector<uint16_t> mm(W * H, 1500);
    mm[1] = 12000;
    converter.convert(mm.data(), KinectDepthUnit::kMillimetres, 640, 480, false, out.data());
    EXPECT_EQ(out[0], 1500);
    EXPECT_EQ(out[1], 0);
}

TEST(KinectDepth, TheCameraClockGivesMicrosecondsAndIndicesAcrossDropsAndTheWrap) {
    DeviceClock clock;
    const uint32_t start = 0xFFFFFFFFu - 3000000u;  // wraps after the first frame
    const auto f = static_cast<uint32_t>(DeviceClock::kTicksPerFrame);
    DeviceClock::Stamp s = clock.next(start);
    EXPECT_EQ(s.timestamp, 0u);
    EXPECT_EQ(s.frameIndex, 1);
    s = clock.next(start + f);
    EXPECT_EQ(s.frameIndex, 2);
    EXPECT_EQ(s.timestamp, 33369u);  // 2002155 ticks at 60 MHz
    s = clock.next(start + 3 * f);   // one frame dropped
    EXPECT_EQ(s.frameIndex, 4);
    EXPECT_EQ(s.timestamp, static_cast<uint64_t>(std::llround(3.0 * f / 60)));
    s = clock.next(start + 3 * f);  // the same tick again still moves on
    EXPECT_EQ(s.frameIndex, 5);
    clock.reset();
    EXPECT_EQ(clock.next(12345).timestamp, 0u);
}

// Collects frames on the pump's thread.
class Collector : public platform::KinectFrameSink {
  public:
    void depthFrame(const void* pixels, uint32_t timestamp) override {
        std::lock_guard lock(mutex_);
        firstPixels_.push_back(*static_cast<const uint16_t*>(pixels));
        timestamps_.push_back(timestamp);
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return timestamps_.size() >= n; });
    }
    std::vector<uint16_t> firstPixels() {
        std::lock_guard lock(mutex_);
        return firstPixels_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint16_t> firstPixels_;
    std::vector<uint32_t> timestamps_;
    std::vector<std::thread::id> threads_;
};

std::vector<platform::ScriptedFrame> frames(int n) {
    std::vector<platform::ScriptedFrame> out;
    for (int i = 0; i < n; ++i)
        out.push_back({std::vector<uint16_t>(W * H, static_cast<uint16_t>(100 + i)),
                       static_cast<uint32_t>(i) * 2002155u});
    return out;
}

TEST(KinectPump, DeliversEveryFrameOnItsOwnThreadAndEndsWithTheCamera) {
    platform::RecordingKinectBus bus(1, KinectDepthUnit::kRaw11Bit, frames(5));
    std::string error;
    auto camera = bus.open(0, error);
    ASSERT_TRUE(camera) << error;
    Collector sink;
    {
        KinectPump pump(*camera, sink);
        ASSERT_TRUE(pump.start(error)) << error;
        ASSERT_TRUE(sink.waitFor(5));
        // The script is over, as for an unplugged camera: the loop ends by itself.
        for (int i = 0; i < 2000 && !pump.ended(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(pump.ended());
    }
    EXPECT_EQ(sink.firstPixels(), (std::vector<uint16_t>{100, 101, 102, 103, 104}));
    for (const auto id : sink.threads()) EXPECT_NE(id, std::this_thread::get_id());
    camera.reset();
    EXPECT_EQ(bus.calls(), (std::vector<std::string>{"open 0", "start", "stop", "close"}));
}

TEST(KinectPump, StopEndsTheLoopAtOnceAndAFailedOpenSaysWhy) {
    platform::RecordingKinectBus bus(1, KinectDepthUnit::kRaw11Bit, frames(3), true);
    std::string error;
    auto camera = bus.open(0, error);
    Collector sink;
    KinectPump pump(*camera, sink);
    ASSERT_TRUE(pump.start(error));
    ASSERT_TRUE(sink.waitFor(3));
    pump.stop();
    EXPECT_FALSE(pump.ended());
    EXPECT_EQ(bus.calls().back(), "stop");

    bus.failOpens("no permission");
    EXPECT_FALSE(bus.open(0, error));
    EXPECT_EQ(error, "no permission");
}

}  // namespace
