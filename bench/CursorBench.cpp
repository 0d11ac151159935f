// Latency of the cursor hand-over: from moveBy on the calling thread to the
// backend's move call on the worker, over 10 000 targets.
//
// Paced: one target at a time, the next one after the previous move arrived
// and a random pause of up to 1 ms, as a frame loop hands them over (a frame
// lasts 33 ms, so the queue is empty whenever a target arrives; the pause
// spreads the arrivals over the worker's 1 ms idle sleep).
// Burst: all targets back to back, the worst case of a full queue.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "input/CursorThread.h"
#include "platform/Desktop.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTargets = 10000;

// Stamps the time of every absolute move it is given.
class StampingDesktop final : public platform::Desktop {
  public:
    StampingDesktop() : stamps_(kTargets) {}

    void sendKey(const platform::KeyInput&) override {}
    void sendMouse(const platform::MouseInput& input) override {
        if ((input.flags & platform::MOUSEEVENTF_ABSOLUTE) == 0) return;
        const int i = count_.load(std::memory_order_relaxed);
        if (i < kTargets) stamps_[i] = Clock::now();
        count_.store(i + 1, std::memory_order_release);
    }
    platform::ScreenPoint cursorPos() override { return {}; }
    platform::ScreenSize screenSize() override { return {1920, 1080}; }
    void sleepMs(int) override {}

    int count() const { return count_.load(std::memory_order_acquire); }
    Clock::time_point stamp(int i) const { return stamps_[i]; }

  private:
    std::vector<Clock::time_point> stamps_;
    std::atomic<int> count_{0};
};

void configure(CursorThread& worker) {
    worker.start(CursorSettings{1920, 1080, 30, 10});
}

// Runs kTargets targets, each one different from the last so that every one
// is sent, and reports the latencies in microseconds.
void measure(benchmark::State& state, bool paced) {
    std::vector<double> latencies;
    for (auto _ : state) {
        StampingDesktop desktop;
        CursorThread worker(desktop);
        configure(worker);
        std::vector<Clock::time_point> pushed(kTargets);
        std::mt19937 random(42);
        std::uniform_int_distribution<int> pause(0, 1000);
        for (int i = 0; i < kTargets; ++i) {
            pushed[i] = Clock::now();
            worker.moveBy(i % 2 == 0 ? 3 : -3, 0);
            if (!paced) continue;
            while (desktop.count() <= i) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        }
        worker.drain();
        worker.stop();
        latencies.clear();
        for (int i = 0; i < kTargets; ++i) {
            latencies.push_back(
                std::chrono::duration<double, std::micro>(desktop.stamp(i) - pushed[i]).count());
        }
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) { return latencies[static_cast<size_t>(q * (kTargets - 1))]; };
    state.counters["median_us"] = at(0.5);
    state.counters["p95_us"] = at(0.95);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = latencies.back();
    // The share of targets that missed the 2 ms goal, in per cent.
    const auto late =
        latencies.end() - std::upper_bound(latencies.begin(), latencies.end(), 2000.0);
    state.counters["over_2ms_pct"] = 100.0 * static_cast<double>(late) / kTargets;
}

void BM_CursorLatencyPaced(benchmark::State& state) {
    measure(state, true);
}
void BM_CursorLatencyBurst(benchmark::State& state) {
    measure(state, false);
}

BENCHMARK(BM_CursorLatencyPaced)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorLatencyBurst)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
