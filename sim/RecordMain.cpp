// tolvane-record: records the depth stream of an OpenNI 2 device (a sensor, a
// ".scene" file of the virtual sensor, or an ".oni" recording) into an .oni
// file that OpenNI 2 plays back as a device URI, or into a folder in
// fakenect's format, which the Kinect's driver plays as freenect://0 under
// fakenect.
#include <OpenNI.h>

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FakenectRecording.h"
#include "sim/Renderer.h"
#include "sim/freenect/KinectDepth.h"

namespace {

const char* const kUsage =
    "usage: tolvane-record [-device URI] [-frames N | -seconds S] [-realtime] [-truth FILE.csv] "
    "(OUTPUT.oni | -fakenect FOLDER)\n";

const char* const kHelp =
    "  -device URI     the device to record: a sensor's URI, a .scene file or an .oni file\n"
    "                  (default: any device)\n"
    "  -frames N       stop after N frames\n"
    "  -seconds S      stop after S seconds of frames (default: a whole scene, or 10 s)\n"
    "  -realtime       record a scene at its real pace (default: as fast as possible)\n"
    "  -truth FILE     also write the scene's ground truth for the recorded frames as CSV\n"
    "  -fakenect DIR   write the frames as a fakenect recording into DIR (640 x 480, raw\n"
    "                  Kinect values) instead of an .oni file\n"
    "  -help           this text\n";

struct Options {
    std::string device;
    std::string output;
    std::string truth;
    std::string fakenect;
    long frames = -1;
    double seconds = -1;
    bool realtime = false;
};

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

template <class T>
bool parseNumber(const char* text, T& value) {
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    return ec == std::errc() && ptr == end;
}

// Returns the exit code to use, or -1 to go on.
int parseArgs(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "-help" || arg == "--help" || arg == "-h") {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        } else if (arg == "-device") {
            const char* v = value();
            if (!v)
                return std::fprintf(stderr, "tolvane-record: -device needs a URI\n%s", kUsage), 2;
            opt.device = v;
        } else if (arg == "-frames") {
            const char* v = value();
            if (!v || !parseNumber(v, opt.frames) || opt.frames < 1)
                return std::fprintf(stderr,
                                    "tolvane-record: -frames needs a whole number above 0\n"),
                       2;
        } else if (arg == "-seconds") {
            const char* v = value();
            if (!v || !parseNumber(v, opt.seconds) || !(opt.seconds > 0) || opt.seconds > 86400)
                return std::fprintf(stderr,
                                    "tolvane-record: -seconds needs a number of seconds above 0\n"),
                       2;
        } else if (arg == "-truth") {
            const char* v = value();
            if (!v) return std::fprintf(stderr, "tolvane-record: -truth needs a file name\n"), 2;
            opt.truth = v;
        } else if (arg == "-fakenect") {
            const char* v = value();
            if (!v) return std::fprintf(stderr, "tolvane-record: -fakenect needs a folder\n"), 2;
            opt.fakenect = v;
        } else if (arg == "-realtime") {
            opt.realtime = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return std::fprintf(stderr, "tolvane-record: unknown option %s\n%s", arg.c_str(),
                                kUsage),
                   2;
        } else if (opt.output.empty()) {
            opt.output = arg;
        } else {
            return std::fprintf(stderr, "tolvane-record: more than one output file\n%s", kUsage), 2;
        }
    }
    if (opt.output.empty() == opt.fakenect.empty()) return std::fprintf(stderr, "%s", kUsage), 2;
    if (opt.frames > 0 && opt.seconds > 0)
        return std::fprintf(stderr, "tolvane-record: give -frames or -seconds, not both\n"), 2;
    if (!opt.truth.empty() && !endsWith(opt.device, ".scene"))
        return std::fprintf(stderr, "tolvane-record: -truth needs a .scene device\n"), 2;
    return -1;
}

// OpenNI 2 initialised for the lifetime of this object.
struct OpenNISession {
    bool ok;
    OpenNISession() : ok(openni::OpenNI::initialize() == openni::STATUS_OK) {}
    ~OpenNISession() { openni::OpenNI::shutdown(); }
    OpenNISession(const OpenNISession&) = delete;
    OpenNISession& operator=(const OpenNISession&) = delete;
};

int fail(const char* what) {
    std::fprintf(stderr, "tolvane-record: %s: %s\n", what, openni::OpenNI::getExtendedError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (const int rc = parseArgs(argc, argv, opt); rc >= 0) return rc;

    const bool scene = endsWith(opt.device, ".scene");
    std::optional<sim::Scene> sceneData;
    if (scene) {
        std::string error;
        sceneData = sim::loadScene(opt.device, error);
        if (!sceneData) {
            std::fprintf(stderr, "tolvane-record: %s\n", error.c_str());
            return 1;
        }
    }

    OpenNISession session;
    if (!session.ok) return fail("cannot initialise OpenNI 2");
    openni::Device device;
    if (device.open(opt.device.empty() ? openni::ANY_DEVICE : opt.device.c_str()) !=
        openni::STATUS_OK)
        return fail("cannot open the device");
    openni::VideoStream depth;
    if (depth.create(device, openni::SENSOR_DEPTH) != openni::STATUS_OK)
        return fail("cannot create a depth stream");
    if (scene && !opt.realtime) device.setProperty(openni::DEVICE_PROPERTY_PLAYBACK_SPEED, 0.0f);

    const bool toFakenect = !opt.fakenect.empty();
    if (toFakenect) {
        openni::VideoMode vga = depth.getVideoMode();
        if (vga.getResolutionX() != platform::kKinectWidth ||
            vga.getResolutionY() != platform::kKinectHeight) {
            vga.setResolution(platform::kKinectWidth, platform::kKinectHeight);
            if (depth.setVideoMode(vga) != openni::STATUS_OK) {
                std::fprintf(stderr,
                             "tolvane-record: fakenect recordings are 640 x 480, and the device "
                             "has no such depth mode\n");
                return 1;
            }
        }
    }
    const openni::VideoMode mode = depth.getVideoMode();
    const int fps = mode.getFps() > 0 ? mode.getFps() : 30;
    long target = opt.frames;
    if (target < 0 && opt.seconds > 0) target = std::max(1L, std::lround(opt.seconds * fps));
    if (target < 0) target = sceneData ? sceneData->frameCount() : 10L * fps;

    openni::Recorder recorder;
    std::optional<platform::FakenectWriter> writer;
    if (toFakenect) {
        writer.emplace(opt.fakenect);
        if (!writer->ok()) {
            std::fprintf(stderr, "tolvane-record: %s\n", writer->error().c_str());
            return 1;
        }
    } else {
        if (recorder.create(opt.output.c_str()) != openni::STATUS_OK)
            return fail("cannot create the recording");
        if (recorder.attach(depth, false) != openni::STATUS_OK)
            return fail("cannot record the depth stream");
        if (recorder.start() != openni::STATUS_OK) return fail("cannot start recording");
        // OpenNI's recorder starts on its own thread and ignores frames until then.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (depth.start() != openni::STATUS_OK) return fail("cannot start the depth stream");

    const std::string& targetName = toFakenect ? opt.fakenect : opt.output;
    std::printf("tolvane-record: %s, %d x %d at %d fps -> %s\n",
                opt.device.empty() ? "any device" : opt.device.c_str(), mode.getResolutionX(),
                mode.getResolutionY(), fps, targetName.c_str());
    // fakenect's frames: raw Kinect values, paced by wall-clock seconds from now.
    std::vector<uint16_t> toRaw;
    std::vector<uint16_t> raw;
    if (toFakenect) {
        toRaw.resize(65536, sim::freenect::kNoRawReading);
        for (int mm = 0; mm <= sim::freenect::kMaxDepth; ++mm)
            toRaw[static_cast<size_t>(mm)] =
                sim::freenect::millimetresToRaw(static_cast<uint16_t>(mm));
        raw.resize(static_cast<size_t>(platform::kKinectWidth) * platform::kKinectHeight);
    }
    const double wallStart =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    long count = 0;
    bool stalled = false;
    openni::VideoStream* streams[] = {&depth};
    openni::VideoFrameRef frame;
    while (count < target) {
        int ready = -1;
        if (openni::OpenNI::waitForAnyStream(streams, 1, &ready, 2000) != openni::STATUS_OK) {
            stalled = true;
            break;
        }
        if (depth.readFrame(&frame) != openni::STATUS_OK) continue;
        if (writer) {
            if (frame.getWidth() != platform::kKinectWidth ||
                frame.getHeight() != platform::kKinectHeight ||
                frame.getStrideInBytes() != platform::kKinectWidth * 2 ||
                frame.getDataSize() < static_cast<int>(raw.size() * 2)) {
                std::fprintf(stderr, "\ntolvane-record: frame %ld is %d x %d, not 640 x 480\n",
                             count + 1, frame.getWidth(), frame.getHeight());
                return 1;
            }
            const auto* mm = static_cast<const uint16_t*>(frame.getData());
            for (size_t i = 0; i < raw.size(); ++i) raw[i] = toRaw[mm[i]];
            const double seconds = static_cast<double>(frame.getTimestamp()) / 1e6;
            // The Kinect's clock: 60 MHz, 32 bits.
            const auto ticks = static_cast<uint32_t>(frame.getTimestamp() * 60);
            if (!writer->addDepth(raw.data(), wallStart + seconds, ticks)) {
                std::fprintf(stderr, "\ntolvane-record: %s\n", writer->error().c_str());
                return 1;
            }
        }
        ++count;
        if (count % 10 == 0 || count == target) {
            std::printf("\rrecorded %ld / %ld frames (%.1f s)", count, target,
                        static_cast<double>(count) / fps);
            std::fflush(stdout);
        }
    }
    frame.release();
    if (!toFakenect) recorder.stop();
    depth.stop();
    if (!toFakenect) recorder.destroy();
    depth.destroy();
    device.close();
    std::printf("\n");
    if (stalled)
        std::printf("tolvane-record: the device stopped sending frames after %ld\n", count);

    struct stat st {};
    const long long bytes =
        toFakenect ? static_cast<long long>(count) *
                         (17 + 2 * platform::kKinectWidth * platform::kKinectHeight)
        : ::stat(opt.output.c_str(), &st) == 0 ? static_cast<long long>(st.st_size)
                                               : -1;
    std::printf("tolvane-record: wrote %ld frames to %s (%.1f MB)\n", count, targetName.c_str(),
                static_cast<double>(bytes) / 1e6);

    if (!opt.truth.empty() && sceneData) {
        sceneData->endTime =
            std::min(sceneData->endTime, static_cast<double>(count) / sceneData->sensor.fps);
        sim::Renderer renderer(*sceneData, mode.getResolutionX(), mode.getResolutionY());
        std::ofstream out(opt.truth);
        if (out) sim::writeTruthCsv(renderer, out);
        if (!out) {
            std::fprintf(stderr, "tolvane-record: cannot write %s: %s\n", opt.truth.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::printf("tolvane-record: ground truth in %s\n", opt.truth.c_str());
    }
    return count > 0 ? 0 : 1;
}
