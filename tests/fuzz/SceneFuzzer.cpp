// Scene text from anywhere: the parser must refuse what it cannot use with a
// message that names the file, and a scene it accepts must stay within the
// limits that keep it cheap, with tracks the renderer can evaluate anywhere.
#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Renderer.h"
#include "sim/Scene.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/fuzz/Problems.h"

namespace fuzz {
namespace {

bool finite(const sim::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

void checkTrack(const sim::Track& track, const char* what, size_t person, Problems& p) {
    double previous = 0;
    for (size_t k = 0; k < track.keys.size(); ++k) {
        const sim::Key& key = track.keys[k];
        p.expect(std::isfinite(key.t) && key.t >= previous,
                 "person %zu %s key %zu at %g s after %g s", person, what, k, key.t, previous);
        p.expect(finite(key.p), "person %zu %s key %zu not finite", person, what, k);
        previous = key.t;
    }
}

void checkScene(const sim::Scene& s, Problems& p) {
    const sim::Projection& proj = s.sensor.projection;
    p.expect((proj.width == 320 && proj.height == 240) || (proj.width == 640 && proj.height == 480),
             "resolution %dx%d", proj.width, proj.height);
    p.expect(proj.hfov > 0 && proj.hfov < std::numbers::pi && proj.vfov > 0 &&
                 proj.vfov < std::numbers::pi,
             "field of view %g x %g", double{proj.hfov}, double{proj.vfov});
    p.expect(s.sensor.fps >= 1 && s.sensor.fps <= 120, "fps %g", s.sensor.fps);
    p.expect(std::isfinite(s.sensor.speed), "speed %g", s.sensor.speed);
    p.expect(s.people.size() <= static_cast<size_t>(sim::kMaxPeople), "%zu people",
             s.people.size());
    p.expect(s.boxes.size() <= static_cast<size_t>(sim::kMaxBoxes), "%zu boxes", s.boxes.size());
    p.expect(s.bars.size() <= static_cast<size_t>(sim::kMaxBars), "%zu bars", s.bars.size());
    p.expect(s.desks.size() <= static_cast<size_t>(sim::kMaxDesks), "%zu desks", s.desks.size());
    for (const sim::Bar& b : s.bars) {
        p.expect(finite(b.from) && finite(b.to) && b.radius > 0, "bar radius %g", double{b.radius});
    }
    // Without an end line the scene lasts one second past its last key.
    p.expect(std::isfinite(s.endTime) && s.endTime > 0 && s.endTime <= sim::kMaxSceneSeconds + 1,
             "end time %g", s.endTime);
    p.expect(s.frameCount() >= 1 && s.frameCount() <= s.endTime * s.sensor.fps + 1,
             "%d frames for %g s at %g fps", s.frameCount(), s.endTime, s.sensor.fps);
    for (const sim::Box& b : s.boxes) {
        p.expect(finite(b.centre) && finite(b.size) && b.size.x > 0 && b.size.y > 0 && b.size.z > 0,
                 "box at %g,%g,%g size %g,%g,%g", double{b.centre.x}, double{b.centre.y},
                 double{b.centre.z}, double{b.size.x}, double{b.size.y}, double{b.size.z});
    }
    for (size_t i = 0; i < s.people.size(); ++i) {
        const sim::Person& person = s.people[i];
        p.expect(!person.name.empty(), "person %zu without a name", i);
        p.expect(std::isfinite(person.size.height) && person.size.height > 0,
                 "person %zu height %g", i, double{person.size.height});
        checkTrack(person.body, "body", i, p);
        checkTrack(person.hand[0], "left hand", i, p);
        checkTrack(person.hand[1], "right hand", i, p);
    }
}

// Ground truth of a frame: both hands of every person, finite, and in view
// only where they project into the image.
void checkTruth(const sim::Scene& s, const sim::FrameTruth& truth, int width, int height,
                Problems& p) {
    p.expect(truth.hands.size() == 2 * s.people.size(), "frame %d: %zu hands for %zu people",
             truth.frame, truth.hands.size(), s.people.size());
    for (const sim::HandTruth& h : truth.hands) {
        p.expect(finite(h.centre) && finite(h.palm), "frame %d: person %d hand %d not finite",
                 truth.frame, h.person, h.side);
        if (h.inView) {
            p.expect(h.u >= 0 && h.v >= 0 && h.u < static_cast<float>(width) &&
                         h.v < static_cast<float>(height),
                     "frame %d: hand in view at %g,%g", truth.frame, double{h.u}, double{h.v});
        }
        p.expect(h.visiblePixels <= width * height, "frame %d: %d visible pixels", truth.frame,
                 h.visiblePixels);
    }
}

}  // namespace

std::string sceneParser(Input input) {
    Problems p;
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    std::string error;
    const std::optional<sim::Scene> scene = sim::parseScene(text, "fuzz.scene", error);
    if (!scene) {
        p.expect(error.starts_with("fuzz.scene:") && error.size() > 11,
                 "refused without a proper message: '%s'", error.c_str());
        return p.text();
    }
    const sim::Scene& s = *scene;
    checkScene(s, p);
    if (!p.empty()) return p.text();

    const int last = s.frameCount() - 1;
    for (const int frame : {0, last / 2, last}) {
        checkTruth(s, sim::groundTruth(s, frame), s.sensor.projection.width,
                   s.sensor.projection.height, p);
    }
    // Small frames keep this cheap; the scene's own size is the same geometry.
    constexpr int kWidth = 32;
    constexpr int kHeight = 24;
    sim::Renderer renderer(s, kWidth, kHeight);
    std::vector<uint16_t> depth(kWidth * kHeight);
    for (const int frame : {0, last}) {
        renderer.render(frame, depth.data());
        checkTruth(s, renderer.truth(), kWidth, kHeight, p);
    }
    return p.text();
}

}  // namespace fuzz
