// Cost of one frame of gesture recognition (GestureFeed::feedHandPoints) with
// a configuration of the usual size, for one and for two hands. The hands
// follow a repeating routine of rests, swipes and pushes, so the recognisers
// take every path and fire their events; the desktop discards them and the
// log goes to /dev/null while the loop runs.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gesture/GestureFeed.h"
#include "platform/Desktop.h"
#include "tests/support/QuietStdout.h"

namespace {

class NullDesktop final : public platform::Desktop {
  public:
    void sendKey(const platform::KeyInput&) override { ++events; }
    void sendMouse(const platform::MouseInput&) override { ++events; }
    platform::ScreenPoint cursorPos() override { return {960, 540}; }
    platform::ScreenSize screenSize() override { return {1920, 1080}; }
    void sleepMs(int) override {}

    std::atomic<long> events{0};
};

const char* const kConfig =
    "ONE_HAND_MODE KEYBOARD_MODE\n"
    "TWO_HAND_MODE KEYBOARD_MODE\n"
    "HAND_PUSH 10 KEY_CLICK VK_RETURN 0 0\n"
    "HAND_BACK 10 KEY_CLICK VK_ESCAPE 0 0\n"
    "HAND_LEFT 10 KEY_CLICK VK_LEFT 0 0\n"
    "HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n"
    "HAND_UP 10 KEY_CLICK VK_UP 0 0\n"
    "HAND_DOWN 10 KEY_CLICK VK_DOWN 0 0\n"
    "HAND_MOVE 1 MOUSE_MOVE M_MOVE 0 0\n"
    "HAND_HOLD 1000 MOUSE_CLICK M_NOMOVE 0 0\n"
    "ONE_HAND_PUSH 10 MOUSE_CLICK M_LBUTTON 0 0\n"
    "ONE_HAND_DOWN 10 MOUSE_HOLD M_LBUTTON 0 0\n"
    "TWO_HANDS_PUSH 10 KEY_CLICK TOGGLE_MODE 0 0\n"
    "TWO_HANDS_UP 5 KEY_HOLD VK_HOME 0 0\n"
    "TWO_HANDS_OPEN 40 KEY_CLICK VK_ADD 0 0\n"
    "TWO_HANDS_CLOSE 15 KEY_CLICK VK_SUBTRACT 0 0\n"
    "TURN_LEFT 3 KEY_HOLD VK_LEFT 0 0\n"
    "TURN_RIGHT 3 KEY_HOLD VK_RIGHT 0 0\n";

// One hand's routine: rest, swipe left and back, rest, push and back, rest,
// swipe up and back; small tremor throughout.
std::vector<gesture::Point3f> routine() {
    std::vector<gesture::Point3f> frames;
    auto add = [&](float x, float y, float z) {
        const float t = static_cast<float>(frames.size());
        frames.push_back({x + 2.0f * std::sin(t), y + 2.0f * std::cos(t * 1.3f), z});
    };
    auto rest = [&] {
        for (int i = 0; i < 12; ++i) add(0, 0, 1000);
    };
    auto stroke = [&](float dx, float dy, float dz) {
        for (int i = 1; i <= 8; ++i) add(dx * i, dy * i, 1000 + dz * i);
        for (int i = 7; i >= 0; --i) add(dx * i, dy * i, 1000 + dz * i);
    };
    rest();
    stroke(-30, 0, 0);
    rest();
    stroke(0, 0, -25);
    rest();
    stroke(0, 30, 0);
    return frames;
}

void runFrames(benchmark::State& state, int hands, bool mouseMode) {
    NullDesktop desktop;
    QuietStdout quiet;
    const std::string path = "/tmp/tolvane_gesture_bench.txt";
    std::ofstream(path) << kConfig << (mouseMode ? "ONE_HAND_MODE MOUSE_MODE\n" : "");
    gesture::GestureFeed feed(desktop);
    if (feed.manager().router().loadGestureConfig(path.c_str(), 640, 480) != 0) {
        state.SkipWithError("configuration did not load");
        return;
    }
    const std::vector<gesture::Point3f> path1 = routine();
    gesture::FeedbackState feedback;
    const gesture::Point3f depth[3] = {};
    size_t frame = 0;
    for (auto _ : state) {
        const gesture::Point3f& p = path1[frame];
        gesture::Point3f world[3] = {p, {}, {}};
        if (hands == 2) {
            // The second hand mirrors the first; the midpoint sees the wall.
            world[0] = {p.x - 150, p.y, p.z};
            world[1] = {150 - p.x, p.y, p.z};
            world[2] = {0, p.y, p.z + 200};
        }
        feed.feedHandPoints(depth, world, hands, feedback);
        benchmark::DoNotOptimize(feedback);
        frame = frame + 1 == path1.size() ? 0 : frame + 1;
    }
    // Key and button events (and, in mouse mode, the worker's cursor moves)
    // per frame, to show that the routine does fire.
    state.counters["events"] = benchmark::Counter(static_cast<double>(desktop.events.load()),
                                                  benchmark::Counter::kAvgIterations);
}

void BM_OneHandKeyboard(benchmark::State& state) {
    runFrames(state, 1, false);
}
void BM_OneHandMouse(benchmark::State& state) {
    runFrames(state, 1, true);
}
void BM_TwoHandsKeyboard(benchmark::State& state) {
    runFrames(state, 2, false);
}

BENCHMARK(BM_OneHandKeyboard);
BENCHMARK(BM_OneHandMouse);
BENCHMARK(BM_TwoHandsKeyboard);

}  // namespace

BENCHMARK_MAIN();
