// Scene files: the bundled scenes load, mistakes are named with file and line
// and never crash, and the short forms move hands the way the gestures they
// stand for need (the focus wave and push, fast swipes).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sim/Noise.h"
#include "sim/Scene.h"

namespace {

std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir ? dir : ".";
}

sim::Scene parse(const std::string& text) {
    std::string error;
    std::optional<sim::Scene> scene = sim::parseScene(text, "t.scene", error);
    EXPECT_TRUE(scene.has_value()) << error;
    return scene ? *scene : sim::Scene{};
}

std::string errorOf(const std::string& text) {
    std::string error;
    EXPECT_FALSE(sim::parseScene(text, "t.scene", error).has_value()) << text;
    return error;
}

const std::string kHeader = "person a x=0 z=2000\n";

// Samples one hand's world centre at the scene's frame rate.
struct Sample {
    double t;
    sim::Vec3 p;
};
std::vector<Sample> samples(const sim::Scene& scene, int side) {
    std::vector<Sample> out;
    for (int k = 0; k < scene.frameCount(); ++k) {
        const sim::FrameTruth truth = sim::groundTruth(scene, k);
        out.push_back({truth.time, truth.hands[static_cast<size_t>(side)].centre});
    }
    return out;
}

// The wave detector's measure: a reversal when x comes back at least 60 mm
// from the running extreme; half-cycles are the times between extremes.
void countReversals(const std::vector<Sample>& s, int& reversals, std::vector<double>& halves) {
    reversals = 0;
    halves.clear();
    int dir = 0;
    float ext = s.front().p.x, lo = ext, hi = ext;
    double extT = s.front().t, loT = extT, hiT = extT, prevT = extT;
    for (const Sample& q : s) {
        const float x = q.p.x;
        if (dir == 0) {
            if (x < lo) lo = x, loT = q.t;
            if (x > hi) hi = x, hiT = q.t;
            if (x - lo >= 60)
                dir = 1, ext = x, extT = q.t, prevT = loT;
            else if (hi - x >= 60)
                dir = -1, ext = x, extT = q.t, prevT = hiT;
            continue;
        }
        if ((dir > 0 && x > ext) || (dir < 0 && x < ext)) {
            ext = x;
            extT = q.t;
        } else if (std::fabs(ext - x) >= 60) {
            ++reversals;
            halves.push_back(extT - prevT);
            prevT = extT;
            dir = -dir;
            ext = x;
            extT = q.t;
        }
    }
}

TEST(SceneFiles, BundledScenesLoad) {
    int count = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(sourceDir() + "/scenes")) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".scene" || entry.path().stem().string().starts_with("bad"))
            continue;
        std::string error;
        const auto scene = sim::loadScene(path, error);
        EXPECT_TRUE(scene.has_value()) << error;
        if (scene) {
            EXPECT_GT(scene->frameCount(), 0) << path;
            EXPECT_FALSE(scene->people.empty()) << path;
        }
        ++count;
    }
    EXPECT_GE(count, 2);

    std::string error;
    const auto demo = sim::loadScene(sourceDir() + "/scenes/demo.scene", error);
    ASSERT_TRUE(demo) << error;
    EXPECT_NEAR(demo->endTime, 30, 5);
}

TEST(SceneFiles, MistakesNameTheFileAndLine) {
    struct Case {
        std::string text;
        int line;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"\nsensor resolution=800x600\n", 2, "320x240 or 640x480"},
        {"sensor fps=fast\n", 1, "fps must be a number"},
        {"sensor fps=500\n", 1, "between 1 and 120"},
        {"sensor colour=on\n", 1, "unknown option 'colour'"},
        {"sensor\nsensor\n", 2, "sensor given twice"},
        {kHeader + "sensor noise=off\n", 2, "before the first person"},
        {"bob right wave\n", 1, "unknown keyword or person 'bob'"},
        {kHeader + "a middle wave\n", 2, "expected left, right, both or body"},
        {kHeader + "a right juggle\n", 2, "unknown hand action 'juggle'"},
        {kHeader + "a right wave amplitude=lots\n", 2, "amplitude must be a number"},
        {kHeader + "a right swipe sideways\n", 2, "left, right, up or down"},
        {kHeader + "a right hold\n", 2, "hold needs a time"},
        {kHeader + "a right hold 2\n@1 a right wave\n", 3, "busy until 2"},
        {kHeader + "a right move 1,2\n", 2, "needs 3 numbers"},
        {kHeader + "a left apart\n", 2, "needs both hands"},
        {kHeader + "a both raise\na both together distance=300\n", 3, "closer than 120 mm"},
        {kHeader + "person a\n", 2, "already defined"},
        {"person 9lives\n", 1, "a person's name"},
        {"box center=0,0,1000\n", 1, "box needs center"},
        {"box center=0,0,1000 size=0,1,1\n", 1, "positive"},
        {"end -1\n", 1, "between"},
        {kHeader + "a body walk 0,-1900\n", 2, "nearer than 300 mm"},
        {"room wall=nan\n", 1, "wall must be a number"},
        {"sensor noise=loud\n", 1, "noise must be on, off or real, not 'loud'"},
        {"person a hands=claw\n", 1, "a hand shape is simple, open, spread, fist or point"},
        {"person a sleeves=wool\n", 1, "sleeves must be none, short, long or dark"},
        {"person a seated=maybe\n", 1, "seated must be on or off"},
        {kHeader + "a right shape\n", 2, "shape needs a hand shape"},
        {"bar from=0,0,1000\n", 1, "bar needs from=x,y,z and to=x,y,z"},
        {"bar from=0,0,1000 to=1,1,1 radius=0\n", 1, "radius must be between 1 and 500"},
        {"box center=0,0,1000 size=1,1,1 surface=velvet\n", 1, "surface must be matte, dark"},
        {"desk height=2000\n", 1, "height must be between 400 and 1200"},
        {"person desk\n", 1, "'desk' cannot name a person"},
    };
    for (const Case& c : cases) {
        const std::string error = errorOf(c.text);
        EXPECT_EQ(error.rfind("t.scene:" + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }

    std::string error;
    EXPECT_FALSE(sim::loadScene("/nonexistent/x.scene", error));
    EXPECT_EQ(error, "/nonexistent/x.scene: cannot open the scene file");
    EXPECT_FALSE(sim::parseScene(std::string(sim::kMaxSceneBytes + 1, '#'), "big.scene", error));
    EXPECT_NE(error.find("big.scene: larger than"), std::string::npos);
}

// Random damage to a real scene: every result is a scene or a located error.
TEST(SceneFiles, DamagedInputNeverCrashes) {
    std::ifstream in(sourceDir() + "/scenes/demo.scene");
    const std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    // "d.scene:<line>: <message>"
    auto located = [](const std::string& e) {
        size_t i = std::string("d.scene:").size();
        if (e.rfind("d.scene:", 0) != 0 || i >= e.size() ||
            !std::isdigit(static_cast<unsigned char>(e[i])))
            return false;
        while (i < e.size() && std::isdigit(static_cast<unsigned char>(e[i]))) ++i;
        return e.compare(i, 2, ": ") == 0 && e.size() > i + 2;
    };
    std::mt19937 rng(7);
    const std::string alphabet = " =,.-@#x\n\t0123456789eE+abcdefghijklmnopqrstuvwxyz\x01\xff";
    for (int round = 0; round < 1500; ++round) {
        std::string text = demo;
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0:
                    text[at] = alphabet[rng() % alphabet.size()];
                    break;
                case 1:
                    text.insert(at, 1, alphabet[rng() % alphabet.size()]);
                    break;
                default:
                    text.erase(at, 1 + rng() % 8);
                    break;
            }
        }
        std::string error;
        const auto scene = sim::parseScene(text, "d.scene", error);
        if (!scene) {
            EXPECT_TRUE(located(error)) << error;
        } else {
            EXPECT_GE(scene->frameCount(), 1);
        }
    }
}

TEST(ShortForms, WaveFitsTheFocusGesture) {
    const sim::Scene scene = parse(kHeader + "a right raise\na right wave\n");
    const auto s = samples(scene, sim::kRight);
    int reversals = 0;
    std::vector<double> halves;
    countReversals(s, reversals, halves);
    EXPECT_GE(reversals, 4);
    for (double h : halves) {
        EXPECT_GE(h, 0.12 - 1e-9);
        EXPECT_LE(h, 0.8);
    }
    // Only x moves while waving.
    const sim::Vec3 start = s[30].p;  // raised after 0.8 s
    for (size_t i = 30; i < s.size(); ++i) {
        EXPECT_NEAR(s[i].p.y, start.y, 1.0);
        EXPECT_NEAR(s[i].p.z, start.z, 1.0);
    }

    // A small wave (scratching) must stay under the amplitude that counts.
    const sim::Scene small =
        parse(kHeader + "a right head\na right wave amplitude=20 half=0.15 cycles=6\n");
    countReversals(samples(small, sim::kRight), reversals, halves);
    EXPECT_EQ(reversals, 0);
}

TEST(ShortForms, PushGoesTowardTheSensorAndBack) {
    const sim::Scene scene = parse(kHeader + "a left raise\na left push\n");
    const auto s = samples(scene, sim::kLeft);
    const double z0 = s[24].p.z;  // raised at 0.8 s, when the push starts
    size_t start = 0, nearest = 0;
    for (size_t i = 24; i < s.size(); ++i) {
        if (start == 0 && s[i].p.z < z0 - 1) start = i;
        if (s[i].p.z < s[nearest].p.z) nearest = i;
    }
    ASSERT_GT(start, 0u);
    EXPECT_GE(z0 - s[nearest].p.z, 100);
    const double forward = s[nearest].t - s[start - 1].t;
    EXPECT_GE(forward, 0.15);
    EXPECT_LE(forward, 0.6);
    EXPECT_NEAR(s.back().p.z, z0, 1.0);
    for (size_t i = 24; i < s.size(); ++i) EXPECT_NEAR(s[i].p.x, s[24].p.x, 1.0);  // no drift
}

TEST(ShortForms, SwipesAreFast) {
    for (const char* dir : {"left", "right", "up", "down"}) {
        const sim::Scene scene = parse(kHeader + "a right raise\na right swipe " + dir + "\n");
        const auto s = samples(scene, sim::kRight);
        double peak = 0;
        for (size_t i = 1; i < s.size(); ++i)
            peak = std::max(
                peak, static_cast<double>(length(s[i].p - s[i - 1].p)) / (s[i].t - s[i - 1].t));
        EXPECT_GT(peak, 500 * 1.5) << dir;  // mm/s; the mean is 1 m/s
        EXPECT_LT(peak, 1600) << dir;       // within what the tracker must follow
        EXPECT_NEAR(length(s.back().p - s[24].p), 400, 1) << dir;
    }
}

TEST(ShortForms, TwoHandGestures) {
    const sim::Scene scene =
        parse(kHeader +
              "a both raise\na both apart distance=100\na both together distance=100\n"
              "a both tilt angle=30\nend 10\n");
    auto at = [&](double t, int side) {
        const sim::Person& p = scene.people[0];
        return p.hand[side].at(t);
    };
    const sim::Vec3 l0 = at(0.8, sim::kLeft), r0 = at(0.8, sim::kRight);
    EXPECT_NEAR(l0.y, r0.y, 1e-3);  // level
    EXPECT_NEAR(at(1.4, sim::kRight).x - at(1.4, sim::kLeft).x, r0.x - l0.x + 200, 1e-2);
    EXPECT_NEAR(at(2.0, sim::kRight).x - at(2.0, sim::kLeft).x, r0.x - l0.x, 1e-2);
    const sim::Vec3 l = at(2.6, sim::kLeft), r = at(2.6, sim::kRight);
    EXPECT_NEAR(std::atan2(r.y - l.y, r.x - l.x) * 180 / M_PI, 30, 0.1);  // right hand up
    EXPECT_NEAR(length(r - l), r0.x - l0.x, 0.5);
}

TEST(Tracks, HermiteStopsAndPassesThrough) {
    sim::Track track;
    track.keys = {{0, {0, 0, 0}, true}, {1, {100, 0, 0}, false}, {2, {200, 0, 0}, true}};
    EXPECT_NEAR(track.at(1).x, 100, 1e-4);
    EXPECT_NEAR(track.at(-5).x, 0, 1e-4);
    EXPECT_NEAR(track.at(9).x, 200, 1e-4);
    // Zero velocity at the stop keys, full speed through the middle key.
    EXPECT_NEAR(track.at(0.001).x - track.at(0).x, 0, 0.01);
    EXPECT_NEAR((track.at(1.001).x - track.at(0.999).x) / 0.002, 100, 1);

    const sim::Scene circle = parse(kHeader + "a right raise\na right circle radius=100 time=2\n");
    const sim::Track& hand = circle.people[0].hand[sim::kRight];
    const sim::Vec3 top = hand.at(0.8), centre = top - sim::Vec3{0, 100, 0};
    for (double t = 0.9; t < 2.7; t += 0.05) EXPECT_NEAR(length(hand.at(t) - centre), 100, 3) << t;
}

TEST(Tracks, WalkingCarriesTheHands) {
    const sim::Scene scene = parse(kHeader + "a body walk 1000,500 time=2\nend 3\n");
    const sim::FrameTruth before = sim::groundTruth(scene, 0);
    const sim::FrameTruth after = sim::groundTruth(scene, 75);
    EXPECT_NEAR(after.hands[0].centre.x - before.hands[0].centre.x, 1000, 1e-2);
    EXPECT_NEAR(after.hands[0].centre.z - before.hands[0].centre.z, 500, 1e-2);
}

}  // namespace
