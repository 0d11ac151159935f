// The tracker core on rendered virtual-sensor scenes with ground truth: gestures seen where
// the hand makes them, hands followed within tolerance, lost when they leave, kept apart when
// close, and not doubled by a second start request.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/tracker/HandTrackerCore.h"
#include "sim/Renderer.h"
#include "sim/Scene.h"

namespace {

using tracker::HandTrackerCore;
using tracker::TrackerOutput;
using tracker::Vec3;

Vec3 toVec(const sim::Vec3& v) {
    return {v.x, v.y, v.z};
}
float distance(const Vec3& a, const Vec3& b) {
    return std::sqrt(tracker::squaredDistance(a, b));
}

struct Gesture {
    double time;
    int type;
    Vec3 position;
};

// Plays a scene from tests/app/tracker/scenes into a core, frame by frame. Like the viewer,
// it starts tracking at every completed focus gesture unless told not to.
class ScenePlayer {
  public:
    explicit ScenePlayer(const std::string& name) {
        const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
        const std::string path = std::string(dir ? dir : ".") + "/tests/app/tracker/scenes/" + name;
        std::string error;
        scene_ = sim::loadScene(path, error);
        if (!scene_) {
            ADD_FAILURE() << error;
            return;
        }
        renderer_.emplace(*scene_);
        const sim::Projection& p = renderer_->projection();
        core.configure(tracker::CameraModel(p.width, p.height, p.hfov, p.vfov));
        core.setGestureEnabled(tracker::kGestureWave, true);
        core.setGestureEnabled(tracker::kGestureClick, true);
        depth_.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
    }

    bool ok() const { return renderer_.has_value(); }

    // Calls step after each frame with the frame's time; stops early when step returns false.
    void play(const std::function<bool(double, const TrackerOutput&, const sim::FrameTruth&)>& step,
              bool startAtGestures = true) {
        for (int k = 0; ok() && k < renderer_->frameCount(); ++k) {
            renderer_->render(k, depth_.data());
            const double time = scene_->frameTime(k);
            tracker::DepthView view{
                depth_.data(), renderer_->width(), renderer_->height(), renderer_->width(), 0, 0};
            core.process(view, static_cast<uint64_t>(time * 1e6), out);
            for (int g = 0; g < out.gestureCount; ++g) {
                if ((out.gestures[g].state & tracker::kGestureCompleted) == 0) continue;
                gestures.push_back({time, out.gestures[g].type, out.gestures[g].position});
                int16_t id = -1;
                if (startAtGestures) core.startHandTracking(out.gestures[g].position, &id);
            }
            if (!step(time, out, renderer_->truth())) break;
        }
    }

    HandTrackerCore core;
    TrackerOutput out;
    std::vector<Gesture> gestures;

  private:
    std::optional<sim::Scene> scene_;
    std::optional<sim::Renderer> renderer_;
    std::vector<uint16_t> depth_;
};

const tracker::HandReport* findHand(const TrackerOutput& out, int16_t id) {
    for (int i = 0; i < out.handCount; ++i) {
        if (out.hands[i].id == id) return &out.hands[i];
    }
    return nullptr;
}

TEST(TrackerScene, WaveStartsAHandThatFollowsTheTrueCentre) {
    ScenePlayer player("wave_then_circle.scene");
    ASSERT_TRUE(player.ok());
    int16_t id = -1;
    int newFrames = 0;
    int trackedFrames = 0;
    double errorSum = 0;
    float worst = 0;
    player.play([&](double, const TrackerOutput& out, const sim::FrameTruth& truth) {
        for (int i = 0; i < out.handCount; ++i) {
            const tracker::HandReport& h = out.hands[i];
            if ((h.state & tracker::kHandNew) != 0) {
                ++newFrames;
                id = h.id;
            }
            if (h.id != id || (h.state & tracker::kHandTracked) == 0) continue;
            const float e = distance(h.position, toVec(truth.hands[sim::kRight].centre));
            ++trackedFrames;
            errorSum += e;
            worst = std::max(worst, e);
        }
        return true;
    });
    ASSERT_EQ(player.gestures.size(), 1U);
    const Gesture& wave = player.gestures[0];
    EXPECT_EQ(wave.type, tracker::kGestureWave);
    EXPECT_GE(wave.time, 1.0);
    EXPECT_LE(wave.time, 2.8 + 0.5);  // the wave ends at 2.8 s
    EXPECT_EQ(newFrames, 1);
    // Tracked from the frame after the wave to the end, through a 120 mm circle.
    EXPECT_GE(trackedFrames, static_cast<int>((5.2 - wave.time) * 30) - 2);
    EXPECT_LT(errorSum / trackedFrames, 15.0);
    EXPECT_LT(worst, 45.0F);
}

TEST(TrackerScene, PushIsSeenAtTheHand) {
    ScenePlayer player("push.scene");
    ASSERT_TRUE(player.ok());
    std::vector<Vec3> truthAt;
    player.play([&](double time, const TrackerOutput& out, const sim::FrameTruth& truth) {
        for (int g = 0; g < out.gestureCount; ++g) {
            if ((out.gestures[g].state & tracker::kGestureCompleted) != 0) {
                truthAt.push_back(toVec(truth.hands[sim::kLeft].centre));
            }
        }
        (void)time;
        return true;
    });
    ASSERT_EQ(player.gestures.size(), 1U);
    EXPECT_EQ(player.gestures[0].type, tracker::kGestureClick);
    EXPECT_GE(player.gestures[0].time, 1.2);
    EXPECT_LE(player.gestures[0].time, 1.8 + 0.5);  // the push ends at 1.8 s
    EXPECT_LT(distance(player.gestures[0].position, truthAt[0]), 80.0F);
}

TEST(TrackerScene, HandLoweredOutOfViewForGoodIsLostOnce) {
    ScenePlayer player("lower_out_of_view.scene");
    ASSERT_TRUE(player.ok());
    int16_t id = -1;
    double outOfViewSince = -1;
    double lostAt = -1;
    int lostReports = 0;
    int framesAfterLoss = 0;
    int framesOutside = 0;
    player.play(
        [&](double time, const TrackerOutput& out, const sim::FrameTruth& truth) {
            const sim::HandTruth& right = truth.hands[sim::kRight];
            if (id < 0 && time >= 0.6) {
                EXPECT_EQ(player.core.startHandTracking(toVec(right.centre), &id),
                          tracker::StartResult::kStarted);
                return true;
            }
            if (id < 0) return true;
            if (!right.inView && outOfViewSince < 0) outOfViewSince = time;
            const tracker::HandReport* h = findHand(out, id);
            if (lostAt >= 0) {
                framesAfterLoss += h != nullptr;
                return true;
            }
            if (h == nullptr) {
                ADD_FAILURE() << "hand vanished without a loss report at " << time;
                return false;
            }
            if ((h->state & tracker::kHandLost) != 0) {
                EXPECT_EQ(h->state & tracker::kHandTracked, 0U);
                lostAt = time;
                ++lostReports;
            } else if (h->state == tracker::kHandCoasting) {
                ++framesOutside;  // kept where it left the view, not tracked
            } else if (right.inView) {
                // While the hand is in view it is followed.
                EXPECT_LT(distance(h->position, toVec(right.centre)), 60.0F) << "at " << time;
            }
            return true;
        },
        false);
    EXPECT_EQ(lostReports, 1);
    EXPECT_EQ(framesAfterLoss, 0);
    ASSERT_GT(outOfViewSince, 0);
    EXPECT_GT(lostAt, outOfViewSince);
    EXPECT_LT(lostAt, outOfViewSince + 3.0);
    EXPECT_GT(framesOutside, 30);
    EXPECT_EQ(player.core.handCount(), 0);
}

// A start request where a hand left the view brings it back; not found there, it is lost
// within the usual time, not kept out of the view all over again.
TEST(TrackerScene, HandBroughtBackButNotThereIsLostSoon) {
    ScenePlayer player("lower_out_of_view.scene");
    ASSERT_TRUE(player.ok());
    int16_t id = -1;
    double requestAt = -1;
    double lostAt = -1;
    player.play(
        [&](double time, const TrackerOutput& out, const sim::FrameTruth& truth) {
            if (id < 0 && time >= 0.6) {
                player.core.startHandTracking(toVec(truth.hands[sim::kRight].centre), &id);
                return true;
            }
            const tracker::HandReport* h = id < 0 ? nullptr : findHand(out, id);
            if (h == nullptr) return true;
            if (requestAt < 0 && h->state == tracker::kHandCoasting) {
                int16_t again = -1;
                EXPECT_EQ(player.core.startHandTracking(h->position, &again),
                          tracker::StartResult::kAlreadyTracked);
                EXPECT_EQ(again, id);
                requestAt = time;
            } else if ((h->state & tracker::kHandLost) != 0) {
                lostAt = time;
                return false;
            }
            return true;
        },
        false);
    ASSERT_GT(requestAt, 0);
    ASSERT_GT(lostAt, 0) << "not lost by the scene's end";
    EXPECT_LT(lostAt, requestAt + 1.0);
}

TEST(TrackerScene, TwoHandsStayApartWhenClose) {
    ScenePlayer player("two_hands_close.scene");
    ASSERT_TRUE(player.ok());
    int16_t ids[2] = {-1, -1};
    int checked = 0;
    player.play(
        [&](double time, const TrackerOutput& out, const sim::FrameTruth& truth) {
            if (ids[0] < 0 && time >= 0.6) {
                for (int s : {sim::kLeft, sim::kRight}) {
                    EXPECT_EQ(player.core.startHandTracking(toVec(truth.hands[s].centre), &ids[s]),
                              tracker::StartResult::kStarted);
                }
                EXPECT_NE(ids[0], ids[1]);
                return true;
            }
            if (ids[0] < 0) return true;
            for (int s : {sim::kLeft, sim::kRight}) {
                const tracker::HandReport* h = findHand(out, ids[s]);
                if (h == nullptr || (h->state & tracker::kHandTracked) == 0) {
                    ADD_FAILURE() << "hand " << s << " not tracked at " << time;
                    return false;
                }
                EXPECT_LT(distance(h->position, toVec(truth.hands[s].centre)), 50.0F)
                    << "hand " << s << " at " << time;
            }
            ++checked;
            return true;
        },
        false);
    EXPECT_GT(checked, 70);
}

TEST(TrackerScene, SecondStartNearATrackedHandAddsNone) {
    ScenePlayer player("two_hands_close.scene");
    ASSERT_TRUE(player.ok());
    int16_t first = -1;
    player.play(
        [&](double time, const TrackerOutput& out, const sim::FrameTruth& truth) {
            const Vec3 right = toVec(truth.hands[sim::kRight].centre);
            if (first < 0) {
                if (time >= 0.6) {
                    EXPECT_EQ(player.core.startHandTracking(right, &first),
                              tracker::StartResult::kStarted);
                }
                return true;
            }
            const tracker::HandReport* h = findHand(out, first);
            EXPECT_NE(h, nullptr);
            if (h == nullptr) return false;
            // A request near the hand (as a second gesture there would make) returns it.
            int16_t again = -1;
            EXPECT_EQ(player.core.startHandTracking(h->position + Vec3{60, -40, 30}, &again),
                      tracker::StartResult::kAlreadyTracked);
            EXPECT_EQ(again, first);
            EXPECT_EQ(player.core.handCount(), 1);
            return time < 0.9;
        },
        false);
    EXPECT_EQ(player.out.handCount, 1);
}

TEST(TrackerScene, EverydayMotionGivesNoFocusGesture) {
    ScenePlayer player("distractors.scene");
    ASSERT_TRUE(player.ok());
    player.play([](double, const TrackerOutput&, const sim::FrameTruth&) { return true; });
    for (const Gesture& g : player.gestures) {
        ADD_FAILURE() << "gesture " << g.type << " at " << g.time << " s (" << g.position.x << ", "
                      << g.position.y << ", " << g.position.z << ")";
    }
}

TEST(TrackerScene, WaveOfAUserSeatedAtADeskIsSeenAtTheHand) {
    // The forearm runs down to the desk less than a band's depth behind the hand.
    ScenePlayer player("seated_desk_wave.scene");
    ASSERT_TRUE(player.ok());
    Vec3 palm;
    player.play([&](double, const TrackerOutput&, const sim::FrameTruth& truth) {
        palm = toVec(truth.hands[sim::kRight].palm);
        return player.gestures.empty();
    });
    ASSERT_EQ(player.gestures.size(), 1U) << "the wave is seen";
    EXPECT_EQ(player.gestures[0].type, tracker::kGestureWave);
    EXPECT_LE(player.gestures[0].time, 3.2 + 0.5);  // the wave ends at 3.2 s
    EXPECT_LT(distance(player.gestures[0].position, palm), 100.0F);
}

}  // namespace

TEST(TrackerScene, OneWavingHandGivesOneTrackedHand) {
    // The floor between the legs, seen past them, is no hand.
    for (const char* name : {"one_hand_wave.scene", "one_hand_wave_2.scene"}) {
        SCOPED_TRACE(name);
        ScenePlayer player(name);
        ASSERT_TRUE(player.ok());
        int started = 0;
        bool onHand = false;
        player.play([&](double, const TrackerOutput& out, const sim::FrameTruth& truth) {
            for (int i = 0; i < out.handCount; ++i) {
                if ((out.hands[i].state & tracker::kHandNew) != 0) ++started;
                onHand =
                    (out.hands[i].state & tracker::kHandTracked) != 0 &&
                    distance(out.hands[i].position, toVec(truth.hands[sim::kLeft].centre)) < 50.0F;
            }
            return true;
        });
        EXPECT_EQ(started, 1);
        EXPECT_TRUE(onHand) << "the waving hand is tracked at the end";
    }
}
