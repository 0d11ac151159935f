// The Kinect driver's cost per frame at 640 x 480 (one core): converting a
// camera frame into an OpenNI frame, raw 11-bit values (fakenect, and
// cameras without their own calibration) or millimetres, mirrored or not,
// and 320 x 240; and the whole hand-over from the camera's callback to the
// stream's new-frame callback, with stand-ins for OpenNI's frame services.
// Goal: 0.3 ms per 640 x 480 frame, hand-over included.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <vector>

#include "platform/RecordingKinectBus.h"
#include "sim/freenect/FreenectDevice.h"
#include "sim/freenect/KinectDepth.h"

namespace {

using platform::KinectDepthUnit;
using sim::freenect::DepthConverter;

std::vector<uint16_t> cameraFrame(KinectDepthUnit unit) {
    std::vector<uint16_t> frame(640 * 480);
    for (size_t i = 0; i < frame.size(); ++i) {
        const auto v = static_cast<uint16_t>((i * 7919) % 1100);  // near and far, some none
        frame[i] = unit == KinectDepthUnit::kRaw11Bit ? (v > 1040 ? uint16_t{2047} : v)
                                                      : static_cast<uint16_t>(v * 9);
    }
    return frame;
}

void convert(benchmark::State& state) {
    const auto unit = static_cast<KinectDepthUnit>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const bool mirror = state.range(2) != 0;
    const std::vector<uint16_t> in = cameraFrame(unit);
    std::vector<uint16_t> out(640 * 480);
    const DepthConverter converter;
    for (auto _ : state) {
        converter.convert(in.data(), unit, width, width * 3 / 4, mirror, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(convert)
    ->ArgNames({"mm", "width", "mirror"})
    ->Args({0, 640, 0})
    ->Args({0, 640, 1})
    ->Args({1, 640, 0})
    ->Args({0, 320, 0})
    ->Unit(benchmark::kMicrosecond);

// OpenNI's services, reduced to one frame buffer and a callback that counts.
struct Services {
    OniFrame frame{};
    std::vector<uint16_t> data = std::vector<uint16_t>(640 * 480);
    long delivered = 0;
};
Services services;

OniFrame* acquire(void*) {
    services.frame.data = services.data.data();
    services.frame.dataSize = static_cast<int>(services.data.size() * 2);
    return &services.frame;
}
void release(void*, OniFrame*) {}
void addRef(void*, OniFrame*) {}
int frameSize(void*) {
    return 640 * 480 * 2;
}
void onFrame(oni::driver::StreamBase*, OniFrame* frame, void*) {
    services.delivered += frame->frameIndex > 0;
}
void appendError(void*, const char*, va_list) {}
void clearErrors(void*) {}
void log(void*, int, const char*, int, const char*, const char*) {}
void propertyChanged(void*, int, const void*, int, void*) {}

void handOver(benchmark::State& state) {
    const auto unit = static_cast<KinectDepthUnit>(state.range(0));
    // A camera that has nothing to send: the benchmark hands the frames over.
    platform::RecordingKinectBus bus(1, unit, {});
    std::string error;
    OniDriverServices driverServices{nullptr, appendError, clearErrors, log};
    oni::driver::DriverServices driver(&driverServices);
    sim::freenect::FreenectDevice device(bus.open(0, error), "freenect://0", driver);
    oni::driver::StreamServices streamServices;
    OniStreamServices& table = streamServices;  // the C table behind the C++ names
    table = OniStreamServices{nullptr, frameSize, acquire, addRef, release};
    oni::driver::StreamBase* stream = device.createStream(ONI_SENSOR_DEPTH);
    stream->setServices(&streamServices);
    stream->setNewFrameCallback(onFrame, nullptr);
    stream->setPropertyChangedCallback(propertyChanged, nullptr);
    if (stream->start() != ONI_STATUS_OK) state.SkipWithError("the stream does not start");
    const std::vector<uint16_t> in = cameraFrame(unit);
    uint32_t ticks = 0;
    for (auto _ : state) {
        device.depthFrame(in.data(), ticks += 2002155);
        benchmark::ClobberMemory();
    }
    stream->stop();
    device.destroyStream(stream);
    state.counters["delivered"] = static_cast<double>(services.delivered);
}
BENCHMARK(handOver)->ArgName("mm")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
