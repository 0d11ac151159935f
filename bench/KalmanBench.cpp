// Cost of smoothing one cursor position.

#include <benchmark/benchmark.h>

#include "kalman/CursorSmoother.h"
#include "kalman/Kalman2D.h"

namespace {

// One Kalman2D track step: a full prediction and correction.
void BM_Kalman2DTrack(benchmark::State& state) {
    Kalman2D f;
    f.startAt(960, 540);
    f.track(960, 540);  // storage is allocated at the first update
    int x = 960;
    for (auto _ : state) {
        x = x == 960 ? 970 : 960;
        f.track(x, 540);
        benchmark::DoNotOptimize(f.getState()(1));
    }
}
BENCHMARK(BM_Kalman2DTrack);

// One CursorSmoother call on a moving target, as the cursor worker makes it.
void BM_CursorSmootherMoving(benchmark::State& state) {
    CursorSmoother s;
    s.smoothPosition({960, 540, 0});
    int x = 960;
    for (auto _ : state) {
        x = x == 960 ? 970 : 960;
        s.smoothPosition({x, 540, 0});
        benchmark::DoNotOptimize(s.output().x);
    }
}
BENCHMARK(BM_CursorSmootherMoving);

}  // namespace

BENCHMARK_MAIN();
