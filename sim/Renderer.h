// Renders a scene's frames into 16-bit depth images (millimetres, 0 = no
// reading), as a structured-light depth sensor would give them, together with
// each hand's ground truth. See sim/Scene.h for a usage example.
//
//   sim::Renderer r(scene);               // at the scene's resolution
//   sim::Renderer r(scene, 640, 480);     // or another one (same field of view)
//   r.render(k, buffer);                  // buffer: width() * height() values, row-major
//   r.truth();                            // hands of frame k, with visible pixel counts
//   r.labels();                           // what each pixel of frame k shows (Label)
//
// A frame depends only on the scene, the resolution and k (the noise is seeded
// by the scene's seed and k), so frames can be rendered in any order. One
// Renderer is not safe to use from two threads at once; make one per thread.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "sim/Scene.h"

namespace sim {

// What a pixel shows, before noise: 0 nothing (beyond the room), then the
// room, then person p's parts as kPersonBase + p * kPartsPerPerson + part.
// Desks and bars are boxes too unless they are dark or shiny.
enum Label : uint8_t {
    kLabelNone = 0,
    kLabelWall = 1,
    kLabelFloor = 2,
    kLabelBox = 3,
    kLabelDark = 4,
    kLabelShiny = 5,
};
enum Part : uint8_t {
    kTorso,
    kHead,
    kUpperArmLeft,
    kUpperArmRight,
    kForearmLeft,
    kForearmRight,
    kHandLeft,
    kHandRight,
    kLegLeft,
    kLegRight,
    kSleeveLeft,
    kSleeveRight,
    kHair,
};
inline constexpr int kPersonBase = 16;
inline constexpr int kPartsPerPerson = 16;
inline uint8_t personLabel(int person, Part part) {
    return static_cast<uint8_t>(kPersonBase + person * kPartsPerPerson + part);
}

class Renderer {
  public:
    explicit Renderer(const Scene& scene);
    Renderer(const Scene& scene, int width, int height);

    const Scene& scene() const { return scene_; }
    const Projection& projection() const { return proj_; }
    int width() const { return proj_.width; }
    int height() const { return proj_.height; }
    int frameCount() const { return scene_.frameCount(); }

    // Renders frame k (time k / fps, any k >= 0) into depth.
    void render(int frame, uint16_t* depth);
    // Ground truth and labels of the frame rendered last.
    const FrameTruth& truth() const { return truth_; }
    const uint8_t* labels() const { return labels_.data(); }

  private:
    void renderIdeal(double t);
    void applyNoise(int frame, uint16_t* depth);
    void applyRealNoise(int frame, uint16_t* depth);
    void castShadows();
    void copyExact(uint16_t* depth) const;

    Scene scene_;
    Projection proj_;
    std::vector<float> rayX_, rayY_;  // ray direction (rayX[i], rayY[j], 1) of pixel (i, j)
    std::vector<float> zbuf_;         // ideal planar depth, +inf where nothing
    std::vector<uint8_t> labels_;
    std::vector<uint8_t> shadow_;  // hidden from the projector
    std::vector<float> invZ_;      // 1 / ideal depth; 0 where nothing or in shadow
    // Realistic noise: a smooth random field (unit variance, correlated over a few pixels,
    // twice the image in each direction, wrapping around), read at offsets that change per frame.
    std::vector<float> field_;
    int fieldW_ = 0, fieldH_ = 0;
    float patchLimit_[256] = {};  // per label: the field value above which a pixel reads 0
    FrameTruth truth_;
};

// Writes the ground truth of every frame as CSV, one line per hand and frame:
// frame,time,person,name,hand,x,y,z,u,v,in_view,visible_pixels
// (renders each frame to count the visible pixels).
void writeTruthCsv(Renderer& renderer, std::ostream& out);

}  // namespace sim
