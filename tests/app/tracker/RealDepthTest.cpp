// The tracker core on depth frames recorded by real sensors (../shared/realdepth): none of them
// shows a focus gesture, and a real hand with fingers, started on its palm, stays on the palm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/tracker/HandTrackerCore.h"
#include "tests/support/RealDepth.h"

namespace {

using tracker::HandTrackerCore;
using tracker::TrackerOutput;
using tracker::Vec3;

std::string recordings() {
    return realdepth::folder();
}

#define REQUIRE_RECORDINGS()                                                                  \
    if (recordings().empty()) {                                                               \
        GTEST_SKIP() << "no real recordings: ../shared/realdepth is absent from the project " \
                        "root";                                                               \
    }

float distance(const Vec3& a, const Vec3& b) {
    return std::sqrt(tracker::squaredDistance(a, b));
}

tracker::DepthView view(const realdepth::Image& im) {
    return {im.depth.data(), im.width, im.height, im.width, 0, 0};
}

// Plays frames the way the viewer does: both focus gestures enabled, tracking started at every
// completed one.
class Player {
  public:
    Player(int width, int height, float hfov, float vfov) {
        core.configure(tracker::CameraModel(width, height, hfov, vfov));
        core.setGestureEnabled(tracker::kGestureWave, true);
        core.setGestureEnabled(tracker::kGestureClick, true);
        core.setSmoothingFactor(0.05F);
    }
    void play(const realdepth::Image& im, double seconds) {
        core.process(view(im), static_cast<uint64_t>(seconds * 1e6), out);
        for (int g = 0; g < out.gestureCount; ++g) {
            if ((out.gestures[g].state & tracker::kGestureCompleted) == 0) continue;
            const Vec3& p = out.gestures[g].position;
            char line[96];
            std::snprintf(line, sizeof line, " %s at %.2f s (%.0f, %.0f, %.0f)",
                          out.gestures[g].type == tracker::kGestureWave ? "wave" : "push", seconds,
                          p.x, p.y, p.z);
            completed += line;
            int16_t id = -1;
            core.startHandTracking(out.gestures[g].position, &id);
        }
    }
    HandTrackerCore core;
    TrackerOutput out;
    std::string completed;  // the completed gestures seen
};

TEST(RealDepth, NoRecordingGivesAFocusGesture) {
    REQUIRE_RECORDINGS();
    std::string error;
    for (const char* name : {"openiss-walk", "openiss-table"}) {
        SCOPED_TRACE(name);
        realdepth::Recording rec;
        ASSERT_TRUE(realdepth::readRecording(recordings() + "/" + name, rec, error)) << error;
        Player player(640, 480, realdepth::kKinectHfov, realdepth::kKinectVfov);
        realdepth::Image im;
        for (size_t k = 0; k < rec.files.size(); ++k) {
            ASSERT_TRUE(realdepth::readPng(rec.files[k], true, im, error)) << error;
            player.play(im, rec.seconds[k]);
        }
        EXPECT_EQ(player.completed, "");
    }
    // Still frames, each seen for 2 s with the sensor's frame rate.
    struct Still {
        const char* dir;
        float hfov, vfov;
    };
    for (const Still& s :
         {Still{"pcl", realdepth::kKinectHfov, realdepth::kKinectVfov},
          Still{"sr305/20210326-230536", realdepth::kSr305Hfov, realdepth::kSr305Vfov},
          Still{"sr305/20210326-231615", realdepth::kSr305Hfov, realdepth::kSr305Vfov}}) {
        SCOPED_TRACE(s.dir);
        Player player(640, 480, s.hfov, s.vfov);
        double t = 0;
        realdepth::Image im;
        for (const auto& entry : std::filesystem::directory_iterator(recordings() + "/" + s.dir)) {
            ASSERT_TRUE(realdepth::readPng(entry.path().string(), false, im, error)) << error;
            for (int k = 0; k < 60; ++k, t += 1.0 / 30) player.play(im, t);
        }
        EXPECT_EQ(player.completed, "");
    }
}

struct Palm {
    std::string file;
    Vec3 centre;
};

std::vector<Palm> palms(const tracker::CameraModel& camera, float surfaceToCentre) {
    const char* root = std::getenv("TOLVANE_SOURCE_DIR");
    std::ifstream in(std::string(root != nullptr ? root : ".") +
                     "/tests/app/tracker/data/sr305-palms.txt");
    std::vector<Palm> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Palm p;
        float u = 0, v = 0, z = 0;
        fields >> p.file >> u >> v >> z;
        p.centre = camera.depthToWorld(u, v, z + surfaceToCentre);
        out.push_back(p);
    }
    return out;
}

TEST(RealDepth, StillHandStartedOnItsPalmStaysOnIt) {
    REQUIRE_RECORDINGS();
    const std::string take = recordings() + "/sr305/20210326-231615/";
    const tracker::CameraModel camera(640, 480, realdepth::kSr305Hfov, realdepth::kSr305Vfov);
    HandTrackerCore probe;
    const std::vector<Palm> list = palms(camera, probe.params().surfaceToCentre);
    ASSERT_EQ(list.size(), 11U) << "tests/app/tracker/data/sr305-palms.txt";
    std::string error;
    realdepth::Image im;
    float offsets = 0;
    for (const Palm& palm : list) {
        SCOPED_TRACE(palm.file);
        ASSERT_TRUE(realdepth::readPng(take + palm.file, false, im, error)) << error;
        HandTrackerCore core;
        core.configure(camera);
        int16_t id = -1;
        ASSERT_EQ(core.startHandTracking(palm.centre, &id), tracker::StartResult::kStarted);
        TrackerOutput out;
        float worst = 0;
        for (int k = 0; k < 30; ++k) {
            core.process(view(im), static_cast<uint64_t>(k) * 33'333, out);
            ASSERT_EQ(out.handCount, 1);
            EXPECT_EQ(out.hands[0].state & ~uint32_t{tracker::kHandNew}, tracker::kHandTracked)
                << "frame " << k;
            worst = std::max(worst, distance(out.hands[0].position, palm.centre));
        }
        EXPECT_LT(worst, 45.0F);
        offsets += distance(out.hands[0].position, palm.centre);
    }
    EXPECT_LT(offsets / static_cast<float>(list.size()), 20.0F) << "mean offset from the palms";

    // The same hand from frame to frame of the take (each frame seen for 0.2 s), started once.
    HandTrackerCore core;
    core.configure(camera);
    int16_t id = -1;
    ASSERT_EQ(core.startHandTracking(list[0].centre, &id), tracker::StartResult::kStarted);
    TrackerOutput out;
    uint64_t stamp = 0;
    for (const Palm& palm : list) {
        SCOPED_TRACE(palm.file);
        ASSERT_TRUE(realdepth::readPng(take + palm.file, false, im, error)) << error;
        for (int k = 0; k < 6; ++k, stamp += 33'333) core.process(view(im), stamp, out);
        ASSERT_EQ(out.handCount, 1);
        EXPECT_EQ(out.hands[0].state, tracker::kHandTracked);
        EXPECT_LT(distance(out.hands[0].position, palm.centre), 45.0F);
    }
}

}  // namespace
