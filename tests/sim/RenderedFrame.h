// Test helpers for the renderer's tests: a scene from text, and one rendered
// frame with its labels and truth.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/Renderer.h"
#include "sim/Scene.h"

namespace simtest {

inline sim::Scene parse(const std::string& text) {
    std::string error;
    std::optional<sim::Scene> scene = sim::parseScene(text, "t.scene", error);
    EXPECT_TRUE(scene.has_value()) << error;
    return scene ? *scene : sim::Scene{};
}

struct Frame {
    int width = 0, height = 0;
    std::vector<uint16_t> depth;
    std::vector<uint8_t> labels;
    sim::FrameTruth truth;
    uint16_t at(int i, int j) const { return depth[static_cast<size_t>(j * width + i)]; }
    uint8_t label(int i, int j) const { return labels[static_cast<size_t>(j * width + i)]; }
};

inline Frame render(sim::Renderer& r, int k) {
    Frame f;
    f.width = r.width();
    f.height = r.height();
    f.depth.resize(static_cast<size_t>(f.width * f.height));
    r.render(k, f.depth.data());
    f.labels.assign(r.labels(), r.labels() + f.depth.size());
    f.truth = r.truth();
    return f;
}

}  // namespace simtest
