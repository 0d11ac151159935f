// Per-frame cost of the whole frame path without the OpenGL upload: tracker
// read, depth picture (histogram and texture), hands started at focus
// gestures, hand points with the two-hand midpoint, gesture manager and
// emitters on a recording desktop (app/FrameLoop.h), over every frame of a
// no-drop scene, one benchmark per scene (the demo at 320 x 240 and at
// 640 x 480 by default).
//
// The virtual sensor renders each frame on its own thread while the reader
// waits, so the wall time of a read includes the rendering. In the same run a
// plain read pass (oniStreamReadFrame on a plain depth stream of the same
// scene, nothing else) measures the sensor alone; counters:
//   cpu_us       CPU time of the frame loop's thread per frame (the cost of
//                Tolvane's own work; the sensor's rendering thread is not in it)
//   wall_us      wall time per frame of the whole path, rendering included
//   read_wall_us wall time per frame of the plain read pass
//   ratio        wall_us / read_wall_us
//   own_us       wall_us - read_wall_us: the path's cost over a plain read
//   p95_cpu_us, max_cpu_us
// Goals: 500 us per 320 x 240 frame, 1500 us per 640 x 480 frame, one core.
//
// explain_cost/<scene> replays the hand points of every frame of the scene
// (as the frame path hands them over) through fresh gesture managers, without
// a decision sink and with each sink attached, and reports the CPU time per
// frame: plain_us, and the extra of the explainer (explain_us, goal 20 us),
// the tuning view's bookkeeping (tuning_model_us) and the trace (trace_us,
// writing to /dev/null). tuning_view_draw (only with $DISPLAY) draws the
// tuning view of each of those frames into a 720 x 480 GLUT window over a
// full-window quad and waits for OpenGL to finish, and the same without the
// view: draw_cpu_us is the difference in CPU time of the whole process
// (software OpenGL renders on threads of its own), draw_us in wall time
// (on a busy machine mostly waiting for those threads); frame_cpu_us is the
// frame without the view. Goal 100 us with software OpenGL.
//
// Usage: tolvane-frame-bench [--scene FILE]... [--config FILE] [--csv-dir DIR]
//        [google-benchmark flags]
// --csv-dir writes DIR/frame-<W>x<H>.csv with frame,cpu_us,wall_us per frame.
// --summary appends one line per scene: WxH frames cpu_us p95_cpu_us
//   max_cpu_us wall_us read_wall_us read_cpu_us ratio own_us
#include <benchmark/benchmark.h>

#include <OniCAPI.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <GL/freeglut.h>

#include "app/FrameLoop.h"
#include "app/TuningView.h"
#include "bench/BenchScenes.h"
#include "gesture/Explainer.h"
#include "gesture/Trace.h"
#include "platform/RecordingDesktop.h"
#include "platform/RecordingPictureWindow.h"
#include "sim/Renderer.h"
#include "sim/Scene.h"
#include "tests/support/QuietStdout.h"

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

// CPU time of the whole process: software OpenGL renders on threads of its own.
double processCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

double sinceUs(Clock::time_point t0) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

struct PassTimes {
    double wallUs = 0;  // per frame
    double cpuUs = 0;   // per frame, this thread
    int frames = 0;
    std::string error;
};

// Reads `frames` frames from a plain depth stream of the scene, in no-drop
// pacing, and does nothing with them.
PassTimes plainReadPass(const std::string& scene, int frames) {
    PassTimes t;
    OpenNIRuntime openni;
    openni.initialize();
    Device device;
    if (device.open(scene.c_str()) != ONI_STATUS_OK) {
        t.error = oniGetExtendedError();
        return t;
    }
    setPlaybackSpeed(device.get(), 0.0f);
    DepthStream stream;
    if (stream.create(device.get()) != ONI_STATUS_OK ||
        oniStreamStart(stream.get()) != ONI_STATUS_OK) {
        t.error = oniGetExtendedError();
        return t;
    }
    const double cpu0 = threadCpuUs();
    const auto wall0 = Clock::now();
    for (int i = 0; i < frames; ++i) {
        OniFrame* frame = nullptr;
        if (oniStreamReadFrame(stream.get(), &frame) != ONI_STATUS_OK || frame == nullptr) break;
        benchmark::DoNotOptimize(frame->data);
        oniFrameRelease(frame);
        ++t.frames;
    }
    const double wall = sinceUs(wall0);
    const double cpu = threadCpuUs() - cpu0;
    oniStreamStop(stream.get());
    if (t.frames > 0) {
        t.wallUs = wall / t.frames;
        t.cpuUs = cpu / t.frames;
    }
    return t;
}

struct Options {
    std::vector<std::string> scenes;
    std::string config;
    std::string csvDir;
    std::string summary;
};

void frameBench(benchmark::State& state, const Options& options, const std::string& scene,
                int frames) {
    const PassTimes plain = plainReadPass(scene, frames);
    if (!plain.error.empty() || plain.frames != frames) {
        state.SkipWithError(("plain read pass failed: " + plain.error).c_str());
        return;
    }
    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    FrameLoop path(desktop, std::make_unique<platform::RecordingPictureWindow>());
    path.open(sceneSettings(scene, options.config));
    if (!path.error().empty()) {
        state.SkipWithError(path.error().c_str());
        return;
    }
    std::vector<double> cpu;
    std::vector<double> wall;
    cpu.reserve(static_cast<size_t>(frames));
    wall.reserve(static_cast<size_t>(frames));
    for (auto _ : state) {
        const auto w0 = Clock::now();
        const double c0 = threadCpuUs();
        if (path.step() != FrameLoop::Step::Frame) {
            state.SkipWithError("a read failed before the scene's end");
            break;
        }
        cpu.push_back(threadCpuUs() - c0);
        wall.push_back(sinceUs(w0));
    }
    if (cpu.empty()) return;
    double cpuSum = 0;
    double wallSum = 0;
    for (double v : cpu) cpuSum += v;
    for (double v : wall) wallSum += v;
    const double n = static_cast<double>(cpu.size());
    std::vector<double> sorted = cpu;
    std::sort(sorted.begin(), sorted.end());
    state.counters["cpu_us"] = cpuSum / n;
    state.counters["p95_cpu_us"] = sorted[static_cast<size_t>(0.95 * (n - 1))];
    state.counters["max_cpu_us"] = sorted.back();
    state.counters["wall_us"] = wallSum / n;
    state.counters["read_wall_us"] = plain.wallUs;
    state.counters["read_cpu_us"] = plain.cpuUs;
    state.counters["ratio"] = (wallSum / n) / plain.wallUs;
    state.counters["own_us"] = wallSum / n - plain.wallUs;
    state.counters["events"] = static_cast<double>(desktop.records().size());
    state.SetLabel(std::to_string(path.depthWidth()) + "x" + std::to_string(path.depthHeight()));

    if (!options.summary.empty()) {
        if (std::FILE* out = std::fopen(options.summary.c_str(), "a")) {
            std::fprintf(out, "%dx%d %d %.1f %.1f %.1f %.1f %.1f %.1f %.3f %.1f\n",
                         path.depthWidth(), path.depthHeight(), static_cast<int>(cpu.size()),
                         cpuSum / n, sorted[static_cast<size_t>(0.95 * (n - 1))], sorted.back(),
                         wallSum / n, plain.wallUs, plain.cpuUs, (wallSum / n) / plain.wallUs,
                         wallSum / n - plain.wallUs);
            std::fclose(out);
        }
    }
    if (!options.csvDir.empty()) {
        const std::string file = options.csvDir + "/frame-" + std::to_string(path.depthWidth()) +
                                 "x" + std::to_string(path.depthHeight()) + ".csv";
        if (std::FILE* out = std::fopen(file.c_str(), "w")) {
            std::fprintf(out, "frame,cpu_us,wall_us\n");
            for (size_t i = 0; i < cpu.size(); ++i)
                std::fprintf(out, "%zu,%.2f,%.2f\n", i, cpu[i], wall[i]);
            std::fclose(out);
        }
    }
}

// The depth picture alone (histogram and texture, DepthImage::update) on
// frames of the same scene rendered beforehand: the share of the path that is
// Tolvane's own per-pixel work outside the tracker.
void depthPictureBench(benchmark::State& state, const sim::Scene& scene) {
    sim::Renderer renderer(scene);
    const int w = renderer.width();
    const int h = renderer.height();
    constexpr int kFrames = 33;
    std::vector<std::vector<uint16_t>> frames(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        frames[static_cast<size_t>(i)].resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        renderer.render(i * scene.frameCount() / kFrames, frames[static_cast<size_t>(i)].data());
    }
    DepthImage image;
    image.allocate(w, h);
    size_t k = 0;
    for (auto _ : state) {
        DepthFrameView view;
        view.data = frames[k].data();
        view.width = w;
        view.height = h;
        view.strideBytes = w * 2;
        view.dataBytes = w * h * 2;
        view.resolutionX = w;
        view.resolutionY = h;
        image.update(view);
        benchmark::DoNotOptimize(image.texture());
        k = (k + 1) % frames.size();
    }
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

// The hand points the frame path gave the gesture manager, frame by frame.
struct CapturedHands {
    std::vector<HandPointSet> frames;
    int fps = 30;
    std::string error;
};

CapturedHands captureHands(const std::string& scene, const std::string& config, int frames) {
    CapturedHands c;
    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    FrameLoop path(desktop, std::make_unique<platform::RecordingPictureWindow>());
    path.open(sceneSettings(scene, config));
    if (!path.error().empty()) {
        c.error = path.error();
        return c;
    }
    path.setObserver([&c](const FrameLoop::Frame& info, FrameLoop&) {
        HandPointSet set = info.set;
        set.count = info.handCount;
        c.frames.push_back(set);
    });
    QuietStdout quiet;
    for (int i = 0; i < frames && path.step() == FrameLoop::Step::Frame; ++i) {
    }
    return c;
}

// CPU time per frame of `reps` replays of the captured frames through one
// gesture manager with `sink` attached (or none).
double replayUs(const CapturedHands& c, const std::string& config, gesture::DecisionSink* sink,
                int reps) {
    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    gesture::GestureFeed feed(desktop);
    feed.manager().frameRate = c.fps;
    QuietStdout quiet;
    if (feed.manager().router().loadGestureConfig(config.c_str(), 320, 240) != 0) return -1.0;
    feed.manager().setDecisionSink(sink);
    gesture::FeedbackState state;
    const double t0 = threadCpuUs();
    for (int r = 0; r < reps; ++r) {
        for (const HandPointSet& set : c.frames) {
            feed.feedHandPoints(std::span<const Point3f, 3>(set.depth),
                                std::span<const Point3f, 3>(set.world), set.count, state);
        }
        desktop.take();
    }
    return (threadCpuUs() - t0) /
           (static_cast<double>(reps) * static_cast<double>(c.frames.size()));
}

void explainCostBench(benchmark::State& state, const std::string& scene, const std::string& config,
                      int frames) {
    const CapturedHands c = captureHands(scene, config, frames);
    if (!c.error.empty() || c.frames.empty()) {
        state.SkipWithError(("cannot capture the scene's hands: " + c.error).c_str());
        return;
    }
    constexpr int kReps = 10;
    constexpr int kRounds = 5;
    // Interleaved rounds; the least of each is the least disturbed.
    double plain = 1e9, explain = 1e9, tuning = 1e9, trace = 1e9;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            gesture::Explainer explainer(c.fps);
            TuningView view;
            gesture::TraceWriter writer;
            plain = std::min(plain, replayUs(c, config, nullptr, kReps));
            explain = std::min(explain, replayUs(c, config, &explainer, kReps));
            tuning = std::min(tuning, replayUs(c, config, &view, kReps));
            trace = std::min(trace, replayUs(c, config, &writer, kReps));
        }
    }
    state.counters["plain_us"] = plain;
    state.counters["explain_us"] = explain - plain;
    state.counters["tuning_model_us"] = tuning - plain;
    state.counters["trace_us"] = trace - plain;
    state.counters["frames"] = static_cast<double>(c.frames.size());
}

void tuningDrawBench(benchmark::State& state, const std::string& scene, const std::string& config,
                     int frames) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        state.SkipWithError("no $DISPLAY for the OpenGL window");
        return;
    }
    const CapturedHands c = captureHands(scene, config, frames);
    if (!c.error.empty() || c.frames.empty()) {
        state.SkipWithError(("cannot capture the scene's hands: " + c.error).c_str());
        return;
    }
    static bool windowMade = false;
    if (!windowMade) {
        int argc = 1;
        char name[] = "tolvane-frame-bench";
        char* argv[] = {name, nullptr};
        glutInit(&argc, argv);
        glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
        glutInitWindowSize(720, 480);
        glutCreateWindow("tuning view");
        windowMade = true;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 720, 480, 0, -1.0, 1.0);

    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    gesture::GestureFeed feed(desktop);
    feed.manager().frameRate = c.fps;
    QuietStdout quiet;
    if (feed.manager().router().loadGestureConfig(config.c_str(), 320, 240) != 0) {
        state.SkipWithError("cannot load the configuration");
        return;
    }
    TuningView view;
    feed.manager().setDecisionSink(&view);
    gesture::FeedbackState feedback;
    // The manager's cursor worker would count in the process's CPU time.
    feed.manager().router().mouse().cursor().stop();
    std::vector<double> draw;
    std::vector<double> drawCpu;
    std::vector<double> base;
    std::vector<double> baseCpu;
    for (auto* v : {&draw, &drawCpu, &base, &baseCpu}) v->reserve(c.frames.size());
    size_t k = 0;
    for (auto _ : state) {
        const HandPointSet& set = c.frames[k];
        k = (k + 1) % c.frames.size();
        feed.feedHandPoints(std::span<const Point3f, 3>(set.depth),
                            std::span<const Point3f, 3>(set.world), set.count, feedback);
        // The same frame twice, with and without the view over a full-window
        // quad (the depth picture's place): the difference is what the view
        // adds to the frame.
        for (int withView = 0; withView < 2; ++withView) {
            glClear(GL_COLOR_BUFFER_BIT);
            glFinish();
            const auto t0 = Clock::now();
            const double c0 = processCpuUs();
            glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
            glBegin(GL_QUADS);
            glVertex2i(0, 0);
            glVertex2i(720, 0);
            glVertex2i(720, 480);
            glVertex2i(0, 480);
            glEnd();
            if (withView == 1) view.draw();
            glFinish();
            (withView == 1 ? draw : base).push_back(sinceUs(t0));
            (withView == 1 ? drawCpu : baseCpu).push_back(processCpuUs() - c0);
        }
        desktop.take();
    }
    glutSwapBuffers();
    if (draw.empty()) return;
    const auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double x : v) sum += x;
        return sum / static_cast<double>(v.size());
    };
    state.counters["draw_us"] = mean(draw) - mean(base);
    state.counters["draw_cpu_us"] = mean(drawCpu) - mean(baseCpu);
    state.counters["frame_cpu_us"] = mean(baseCpu);
}

std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir != nullptr ? dir : TOLVANE_SOURCE_DIR;
}

}  // namespace

int main(int argc, char** argv) {
    static Options options;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--scene") == 0 && hasValue) {
            options.scenes.emplace_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--config") == 0 && hasValue) {
            options.config = argv[++i];
        } else if (std::strcmp(argv[i], "--csv-dir") == 0 && hasValue) {
            options.csvDir = argv[++i];
        } else if (std::strcmp(argv[i], "--summary") == 0 && hasValue) {
            options.summary = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (options.scenes.empty()) {
        options.scenes = {sourceDir() + "/bench/scenes/demo-320x240.scene",
                          sourceDir() + "/bench/scenes/demo-640x480.scene"};
    }
    if (options.config.empty()) options.config = sourceDir() + "/gesture_event.txt";

    for (const std::string& scene : options.scenes) {
        std::string error;
        const std::optional<sim::Scene> loaded = sim::loadScene(scene, error);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const int frames = loaded->frameCount();
        const auto rendered = std::make_shared<const sim::Scene>(*loaded);
        const std::string name = "frame_path/" + scene.substr(scene.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(
            name.c_str(),
            [scene, frames](benchmark::State& state) { frameBench(state, options, scene, frames); })
            ->Iterations(frames)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        const std::string cost = "explain_cost/" + scene.substr(scene.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(cost.c_str(),
                                     [scene, frames](benchmark::State& state) {
                                         explainCostBench(state, scene, options.config, frames);
                                     })
            ->Iterations(1)
            ->Unit(benchmark::kMicrosecond);
        const std::string draw = "tuning_view_draw/" + scene.substr(scene.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(draw.c_str(),
                                     [scene, frames](benchmark::State& state) {
                                         tuningDrawBench(state, scene, options.config, frames);
                                     })
            ->Iterations(frames)
            ->Unit(benchmark::kMicrosecond);
        const std::string picture = "depth_picture/" + scene.substr(scene.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(picture.c_str(), [rendered](benchmark::State& state) {
            depthPictureBench(state, *rendered);
        })->Unit(benchmark::kMicrosecond);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
