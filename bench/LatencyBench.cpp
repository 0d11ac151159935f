// Gesture latency: frames from the moment a scene's true hand positions cross
// a rule's threshold to the frame in which the frame path sends the event.
//
// Each scene runs once through the whole frame path (app/FrameLoop.h: the
// virtual sensor, the hand tracker, hand points, the gesture manager and its
// emitters on a recording desktop). Beside it a second gesture manager with
// the same configuration is fed, frame by frame, the scene's ground truth
// (sim::groundTruth): the true centre of each hand the tracker follows,
// converted and given a midpoint exactly as the tracked positions are. Its
// events fire in the frame where the true values cross the thresholds, by
// the very rules the program uses: a KEY_CLICK when the value falls back
// below its threshold, a KEY_HOLD press when it rises to it and its release
// when it falls back. The crossing that fires is thus the reference, and the
// latency of an event is its frame in the real path minus the frame of the
// same event (same key or button, same direction) from the truth.
//
// Usage: tolvane-latency-bench [--markdown] [--verbose] SCENE[=CONFIG]...
// Without CONFIG a scene that says "uses examples/NAME.txt" in its comments
// uses that file (from the source folder), any other gesture_event.txt.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/FrameLoop.h"
#include "bench/BenchScenes.h"
#include "config/EventRouter.h"
#include "platform/RecordingDesktop.h"
#include "platform/RecordingPictureWindow.h"
#include "sim/Scene.h"

namespace {

std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir != nullptr ? dir : TOLVANE_SOURCE_DIR;
}

struct Event {
    int frame = 0;
    std::string what;  // "RIGHT down", "left button up", ...
    bool matched = false;
};

std::string keyName(unsigned vk) {
    static const std::map<unsigned, const char*> names = {
        {8, "BACK"},    {9, "TAB"},    {13, "RETURN"}, {16, "SHIFT"}, {17, "CONTROL"}, {18, "MENU"},
        {27, "ESCAPE"}, {32, "SPACE"}, {33, "PRIOR"},  {34, "NEXT"},  {35, "END"},     {36, "HOME"},
        {37, "LEFT"},   {38, "UP"},    {39, "RIGHT"},  {40, "DOWN"}};
    const auto it = names.find(vk);
    if (it != names.end()) return it->second;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return std::string(1, char(vk));
    if (vk >= 112 && vk <= 135) return "F" + std::to_string(vk - 111);
    return "vk" + std::to_string(vk);
}

// The input events of one frame, absolute cursor moves left out.
void collect(platform::RecordingDesktop& desktop, int frame, std::vector<Event>& out) {
    for (const platform::InputRecord& r : desktop.take()) {
        Event e;
        e.frame = frame;
        if (r.type == platform::InputRecord::Type::Key) {
            e.what = keyName(r.key.vk) +
                     ((r.key.flags & platform::KEYEVENTF_KEYUP) != 0 ? " up" : " down");
        } else {
            if ((r.mouse.flags & platform::MOUSEEVENTF_ABSOLUTE) != 0) continue;
            char text[48];
            std::snprintf(text, sizeof text, "mouse 0x%x", r.mouse.flags);
            e.what = text;
        }
        out.push_back(e);
    }
}

struct SceneResult {
    std::string scene;
    std::string config;
    int frames = 0;
    int truthEvents = 0;
    int realEvents = 0;
    std::vector<int> latencies;  // one per matched event
    std::vector<std::string> missed;
    std::vector<std::string> extra;
    std::vector<std::string> lines;  // --verbose
};

constexpr int kMatchWindow = 15;  // frames either side

SceneResult runScene(const std::string& scenePath, const std::string& config) {
    SceneResult result;
    result.scene = scenePath;
    result.config = config;
    std::string error;
    const std::optional<sim::Scene> scene = sim::loadScene(scenePath, error);
    if (!scene) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    platform::RecordingDesktop desktop(platform::ScreenSize{1920, 1080});
    FrameLoop path(desktop, std::make_unique<platform::RecordingPictureWindow>());
    path.open(sceneSettings(scenePath, config));
    if (!path.error().empty()) {
        std::fprintf(stderr, "%s\n", path.error().c_str());
        std::exit(1);
    }
    // The reference: the same configuration, fed the truth.
    platform::RecordingDesktop truthDesktop(platform::ScreenSize{1920, 1080});
    gesture::GestureFeed truthFeed(truthDesktop);
    truthFeed.manager().frameRate = static_cast<int32_t>(std::lround(scene->sensor.fps));
    if (truthFeed.manager().router().loadGestureConfig(config.c_str(), path.depthWidth(),
                                                       path.depthHeight()) != 0) {
        std::fprintf(stderr, "cannot load %s\n", config.c_str());
        std::exit(1);
    }
    gesture::FeedbackState truthState{};
    sim::FrameTruth truth;
    int frame = 0;
    path.setObserver([&](const FrameLoop::Frame& info, FrameLoop& p) {
        sim::groundTruth(*scene, frame, truth);
        Point3f positions[3];
        int count = 0;
        // The true centre of each hand the tracker follows (the nearest one).
        for (int i = 0; i < info.handCount && count < 3; ++i) {
            const Point3f& h = info.hands[i];
            float best = 250.0f;
            const sim::HandTruth* nearest = nullptr;
            for (const sim::HandTruth& t : truth.hands) {
                const float d = std::hypot(t.centre.x - h.x, t.centre.y - h.y, t.centre.z - h.z);
                if (d < best) {
                    best = d;
                    nearest = &t;
                }
            }
            if (nearest != nullptr)
                positions[count++] =
                    Point3f{nearest->centre.x, nearest->centre.y, nearest->centre.z};
        }
        HandPointSet set;
        Point3f screen[20];
        convertHands(positions, count, p.viewScaleX(), p.viewScaleY(), p.converter(), set, screen);
        if (count >= 2 && info.depth != nullptr) {
            const DepthFrameView view = depthViewOf(info.depth);
            computeHandMidpoint(&view, set, p.converter());
        }
        truthFeed.feedHandPoints(std::span<const Point3f, 3>(set.depth),
                                 std::span<const Point3f, 3>(set.world), count, truthState);
    });

    std::vector<Event> real;
    std::vector<Event> ideal;
    const int frames = scene->frameCount();
    for (frame = 0; frame < frames; ++frame) {
        if (path.step() != FrameLoop::Step::Frame) break;
        collect(desktop, frame, real);
        collect(truthDesktop, frame, ideal);
    }
    result.frames = frame;
    result.truthEvents = static_cast<int>(ideal.size());
    result.realEvents = static_cast<int>(real.size());
    for (Event& t : ideal) {
        Event* best = nullptr;
        for (Event& r : real) {
            if (r.matched || r.what != t.what || std::abs(r.frame - t.frame) > kMatchWindow)
                continue;
            if (best == nullptr || std::abs(r.frame - t.frame) < std::abs(best->frame - t.frame))
                best = &r;
        }
        char line[160];
        if (best == nullptr) {
            result.missed.push_back(t.what + " @" + std::to_string(t.frame));
            std::snprintf(line, sizeof line, "  %-16s truth %4d  path  --   missed", t.what.c_str(),
                          t.frame);
        } else {
            best->matched = true;
            t.matched = true;
            result.latencies.push_back(best->frame - t.frame);
            std::snprintf(line, sizeof line, "  %-16s truth %4d  path %4d  %+d", t.what.c_str(),
                          t.frame, best->frame, best->frame - t.frame);
        }
        result.lines.emplace_back(line);
    }
    for (const Event& r : real) {
        if (!r.matched) result.extra.push_back(r.what + " @" + std::to_string(r.frame));
    }
    return result;
}

// "uses examples/NAME.txt" in a scene's comments names its configuration.
std::string configFor(const std::string& scene) {
    std::ifstream in(scene);
    std::string line;
    const std::regex uses(R"(uses\s+(examples/[A-Za-z0-9_.-]+\.txt))");
    for (int n = 0; n < 20 && std::getline(in, line); ++n) {
        std::smatch m;
        if (line.rfind('#', 0) == 0 && std::regex_search(line, m, uses)) {
            const std::string path = sourceDir() + "/" + m[1].str();
            if (std::ifstream(path)) return path;
        }
    }
    return sourceDir() + "/gesture_event.txt";
}

std::string shortName(const std::string& path) {
    const std::string root = sourceDir() + "/";
    return path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
}

double median(std::vector<int> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    bool markdown = false;
    bool verbose = false;
    std::vector<std::pair<std::string, std::string>> runs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--markdown") {
            markdown = true;
        } else if (a == "--verbose") {
            verbose = true;
        } else {
            const size_t eq = a.find('=');
            if (eq == std::string::npos) {
                runs.emplace_back(a, configFor(a));
            } else {
                runs.emplace_back(a.substr(0, eq), a.substr(eq + 1));
            }
        }
    }
    if (runs.empty()) {
        std::fprintf(stderr, "usage: %s [--markdown] [--verbose] SCENE[=CONFIG]...\n", argv[0]);
        return 2;
    }
    std::vector<int> all;
    int missed = 0;
    int extra = 0;
    if (markdown) {
        std::printf(
            "| scene | configuration | events (truth) | matched | latency frames: median / "
            "max | missed | extra |\n|---|---|---|---|---|---|---|\n");
    }
    for (const auto& [scene, config] : runs) {
        const SceneResult r = runScene(scene, config);
        all.insert(all.end(), r.latencies.begin(), r.latencies.end());
        missed += static_cast<int>(r.missed.size());
        extra += static_cast<int>(r.extra.size());
        const int worst =
            r.latencies.empty() ? 0 : *std::max_element(r.latencies.begin(), r.latencies.end());
        std::string missedText;
        for (const auto& m : r.missed) missedText += (missedText.empty() ? "" : ", ") + m;
        std::string extraText;
        for (const auto& m : r.extra) extraText += (extraText.empty() ? "" : ", ") + m;
        if (markdown) {
            std::printf("| %s | %s | %d | %zu | %.1f / %d | %s | %s |\n", shortName(scene).c_str(),
                        shortName(config).c_str(), r.truthEvents, r.latencies.size(),
                        median(r.latencies), worst, missedText.empty() ? "0" : missedText.c_str(),
                        extraText.empty() ? "0" : extraText.c_str());
        } else {
            std::printf(
                "%s (%s, %d frames): %d truth events, %zu matched, median %.1f, max %d "
                "frames; missed %zu, extra %zu\n",
                shortName(scene).c_str(), shortName(config).c_str(), r.frames, r.truthEvents,
                r.latencies.size(), median(r.latencies), worst, r.missed.size(), r.extra.size());
        }
        if (verbose) {
            for (const auto& l : r.lines) std::printf("%s\n", l.c_str());
            for (const auto& e : r.extra) std::printf("  extra %s\n", e.c_str());
        }
    }
    std::map<int, int> histogram;
    for (int l : all) ++histogram[l];
    std::string hist;
    for (const auto& [l, n] : histogram) hist += " " + std::to_string(l) + ":" + std::to_string(n);
    const int worst = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    const long within = std::count_if(all.begin(), all.end(), [](int l) { return l <= 2; });
    std::printf(
        "%sall: %zu matched events, median %.1f frames, max %d, %ld within 2 frames; "
        "missed %d, extra %d; latency:count%s\n",
        markdown ? "\n" : "", all.size(), median(all), worst, within, missed, extra, hist.c_str());
    return 0;
}
