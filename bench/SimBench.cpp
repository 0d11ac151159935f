// Cost of rendering one frame of the demo scene (a person at 2 m waving and
// gesturing, a cabinet, wall and floor) at both resolutions, with and without
// the noise model, and of a realistic scene (a seated user 0.6 m away with a
// spread hand, sleeves and hair, the realistic noise model). A frame lasts
// 33 ms at 30 fps; the aim is under 5 ms at 640 x 480 on one core.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/Renderer.h"

namespace {

sim::Scene loadBundled(const char* name) {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    const std::string path = std::string(dir ? dir : TOLVANE_SOURCE_DIR) + "/scenes/" + name;
    std::string error;
    std::optional<sim::Scene> scene = sim::loadScene(path, error);
    if (!scene) std::abort();
    return *scene;
}

sim::Scene demoScene(bool noise) {
    sim::Scene scene = loadBundled("demo.scene");
    scene.sensor.noise = noise;
    return scene;
}

void renderRealistic(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const sim::Scene scene = loadBundled("real/seated-raise.scene");
    sim::Renderer renderer(scene, width, width * 3 / 4);
    std::vector<uint16_t> depth(static_cast<size_t>(renderer.width() * renderer.height()));
    int k = 0;
    for (auto _ : state) {
        renderer.render(k, depth.data());
        benchmark::DoNotOptimize(depth.data());
        k = (k + 7) % scene.frameCount();
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(width * 3 / 4) + " noise=real");
}
BENCHMARK(renderRealistic)->Arg(320)->Arg(640)->Unit(benchmark::kMillisecond);

void renderDemo(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const bool noise = state.range(1) != 0;
    const sim::Scene scene = demoScene(noise);
    sim::Renderer renderer(scene, width, width * 3 / 4);
    std::vector<uint16_t> depth(static_cast<size_t>(renderer.width() * renderer.height()));
    int k = 0;
    for (auto _ : state) {
        renderer.render(k, depth.data());
        benchmark::DoNotOptimize(depth.data());
        k = (k + 7) % scene.frameCount();  // spread over the scene's poses
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(width * 3 / 4) +
                   (noise ? " noise" : " exact"));
}

BENCHMARK(renderDemo)
    ->Args({320, 1})
    ->Args({640, 1})
    ->Args({320, 0})
    ->Args({640, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
