// Random configurations and random hand movements through the real gesture
// feed on a recording desktop. Whatever the rules say and the hands do:
//  - no key or button is released that is not down, and none is pressed
//    while it is down;
//  - the first frame without hands leaves every key and button up, in the
//    records sent and in the emitters' own state, and so does the teardown;
//  - nothing crashes (the sanitizer builds run this test too).
//
// Each sequence has its own seed, so a failure names the one sequence to
// rerun. Environment:
//   TOLVANE_PROPERTY_SEQUENCES=N  run N sequences (default 1000)
//   TOLVANE_PROPERTY_SEED=S       base seed (default 1)
//   TOLVANE_PROPERTY_ONLY=I       run only sequence I (with its log on stdout)
//
// The cursor worker is stopped at the start of each sequence, so absolute
// moves never happen and the run is repeatable; its hold pulse, which gates
// the MOUSEW_ event types, is raised at random instead.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gesture/GestureFeed.h"
#include "platform/RecordingDesktop.h"
#include "tests/fuzz/InputLedger.h"
#include "tests/support/QuietStdout.h"

namespace gesture {
namespace {

using Rng = std::mt19937_64;

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    return *end == '\0' ? v : fallback;
}

int uniform(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

bool chance(Rng& rng, double p) {
    return std::bernoulli_distribution(p)(rng);
}

template <typename T, size_t N>
const T& pick(Rng& rng, const T (&items)[N]) {
    return items[uniform(rng, 0, static_cast<int>(N) - 1)];
}

// ------------------------------------------------------------ configurations

const char* const kGestures[] = {
    "TWO_HANDS_PUSH",  "TWO_HANDS_BACK", "TWO_HANDS_UP",  "TWO_HANDS_DOWN", "TWO_HANDS_OPEN",
    "TWO_HANDS_CLOSE", "TURN_LEFT",      "TURN_RIGHT",    "LEFT_HAND_PUSH", "RIGHT_HAND_PUSH",
    "ONE_HAND_PUSH",   "ONE_HAND_BACK",  "ONE_HAND_LEFT", "ONE_HAND_RIGHT", "ONE_HAND_UP",
    "ONE_HAND_DOWN",   "HAND_PUSH",      "HAND_BACK",     "HAND_LEFT",      "HAND_RIGHT",
    "HAND_UP",         "HAND_DOWN",      "HAND_MOVE",     "HAND_HOLD",      "NO_HAND",
    "ONE_HAND",        "TWO_HANDS",      "CIRCLE_LEFT",   "CIRCLE_RIGHT",
};
const char* const kKeyEvents[] = {"KEY_CLICK", "KEY_MULTI_CLICK", "KEY_HOLD", "KEY_TOGGLE"};
const char* const kMouseEvents[] = {
    "MOUSE_CLICK", "MOUSE_DOUBLE_CLICK", "MOUSE_MULTI_CLICK", "MOUSE_HOLD",    "MOUSE_TOGGLE",
    "MOUSE_MOVE",  "MOUSEW_CLICK",       "MOUSEW_DCLICK",     "MOUSEW_TOGGLE",
};
const char* const kKeys[] = {
    "VK_UP",   "VK_DOWN", "VK_LEFT", "VK_RIGHT",   "VK_RETURN",   "VK_ESCAPE",   "VK_SPACE",
    "VK_F5",   "VK_TAB",  "VK_HOME", "VK_CONTROL", "VK_SHIFT",    "VK_LSHIFT",   "VK_LCONTROL",
    "VK_LWIN", "a",       "z",       "7",          "TOGGLE_MODE", "CHANGE_MODE", "VK_ADD",
};
const char* const kButtons[] = {"M_LBUTTON", "M_RBUTTON", "M_MBUTTON",
                                "M_WHEEL",   "M_MOVE",    "M_NOMOVE"};
// Keyboard words on mouse rules and the other way round: accepted by the
// loader, so they must be safe. Few, to stay within the ten mouse codes.
const char* const kCrossKeys[] = {"VK_SPACE", "VK_F5", "a"};

// Where the gestures each mode routes sit in kGestures.
struct GestureRange {
    int first;
    int last;
};
constexpr GestureRange kTwoHandKeyboard{0, 9};    // TWO_HANDS_PUSH .. RIGHT_HAND_PUSH
constexpr GestureRange kOneHandMouse{10, 15};     // ONE_HAND_PUSH .. ONE_HAND_DOWN
constexpr GestureRange kOneHandKeyboard{16, 21};  // HAND_PUSH .. HAND_DOWN
constexpr GestureRange kCursor{22, 23};           // HAND_MOVE, HAND_HOLD
constexpr GestureRange kRouted{0, 23};
constexpr GestureRange kAll{0, 28};

// One rule line, for a gesture of `preferred` most of the time; every line
// is one the loader accepts.
std::string randomRule(Rng& rng, GestureRange preferred) {
    const GestureRange range = chance(rng, 0.5) ? preferred : chance(rng, 0.9) ? kRouted : kAll;
    const std::string gesture = kGestures[uniform(rng, range.first, range.last)];
    // HAND_HOLD rules are mouse rules whatever their event word.
    const bool mouse = gesture == "HAND_HOLD" || chance(rng, 0.45);
    const std::string event = mouse ? pick(rng, kMouseEvents) : pick(rng, kKeyEvents);
    std::string keys;
    const int keyCount = chance(rng, 0.75) ? 1 : uniform(rng, 2, 3);
    for (int k = 0; k < keyCount; ++k) {
        if (k > 0) keys += ',';
        if (chance(rng, 0.08)) {
            keys += mouse ? pick(rng, kCrossKeys) : pick(rng, kButtons);
        } else {
            keys += mouse ? pick(rng, kButtons) : pick(rng, kKeys);
        }
    }
    int threshold = uniform(rng, 1, 25);                              // centimetres
    if (gesture == "HAND_HOLD") threshold = uniform(rng, 200, 2000);  // milliseconds
    if (gesture == "HAND_MOVE") threshold = uniform(rng, 0, 30);
    if (chance(rng, 0.03)) threshold = uniform(rng, -5, 0);
    const std::string release = chance(rng, 0.7) ? "0" : pick(rng, kKeys);
    std::ostringstream param;
    if (event == "MOUSE_MOVE" || gesture == "HAND_MOVE") {
        param << uniform(rng, 0, 10) / 10.0;  // fine scale
    } else if (gesture == "HAND_HOLD") {
        param << uniform(rng, 0, 20);  // hold tolerance
    } else {
        param << (chance(rng, 0.5) ? 0 : uniform(rng, 0, 1000));  // milliseconds
    }
    return gesture + " " + std::to_string(threshold) + " " + event + " " + keys + " " + release +
           " " + param.str() + "\n";
}

std::string randomConfig(Rng& rng) {
    std::string text;
    const bool oneHandMouse = chance(rng, 0.35);
    const bool twoHandMouse = chance(rng, 0.25);
    if (oneHandMouse) {
        text += "ONE_HAND_MODE MOUSE_MODE\n";
    } else if (chance(rng, 0.5)) {
        text += "ONE_HAND_MODE KEYBOARD_MODE\n";
    }
    if (twoHandMouse) text += "TWO_HAND_MODE MOUSE_MODE\n";
    if (chance(rng, 0.2)) text += "FEEDBACK_SOUND BEEP\nFEEDBACK_WINDOW WINDOW2\n";
    // Mostly rules the chosen modes can fire. At most 15 lines of at most 3
    // keys: within the 50 rules of each emitter.
    const GestureRange modes[] = {
        oneHandMouse ? kOneHandMouse : kOneHandKeyboard,
        twoHandMouse ? kCursor : kTwoHandKeyboard,
        oneHandMouse ? kCursor : kOneHandKeyboard,
    };
    const int lines = uniform(rng, 4, 15);
    for (int i = 0; i < lines; ++i) text += randomRule(rng, pick(rng, modes));
    return text;
}

// ------------------------------------------------------------ hand movements

struct Hand {
    Point3f p{0.0f, 150.0f, 1800.0f};
    Point3f v{};  // mm per frame
};

enum class Motion { Hold, Stroke, Wander, Jump };

void clampToRoom(Point3f& p) {
    p.x = std::clamp(p.x, -900.0f, 900.0f);
    p.y = std::clamp(p.y, -600.0f, 800.0f);
    p.z = std::clamp(p.z, 450.0f, 3800.0f);
}

// A stroke along one axis, sometimes diagonally, 8 to 60 mm per frame.
Point3f randomVelocity(Rng& rng) {
    Point3f v{};
    const float speed = static_cast<float>(uniform(rng, 8, 60));
    const int axes = chance(rng, 0.75) ? 1 << uniform(rng, 0, 2) : uniform(rng, 3, 7);
    if (axes & 1) v.x = chance(rng, 0.5) ? speed : -speed;
    if (axes & 2) v.y = chance(rng, 0.5) ? speed : -speed;
    if (axes & 4) v.z = chance(rng, 0.5) ? speed : -speed;
    return v;
}

void step(Rng& rng, Hand& h, Motion m) {
    switch (m) {
        case Motion::Hold:
            h.p.x += static_cast<float>(uniform(rng, -2, 2));
            h.p.y += static_cast<float>(uniform(rng, -2, 2));
            h.p.z += static_cast<float>(uniform(rng, -2, 2));
            break;
        case Motion::Stroke:
            h.p.x += h.v.x;
            h.p.y += h.v.y;
            h.p.z += h.v.z;
            break;
        case Motion::Wander:
            h.p.x += static_cast<float>(uniform(rng, -15, 15));
            h.p.y += static_cast<float>(uniform(rng, -15, 15));
            h.p.z += static_cast<float>(uniform(rng, -15, 15));
            break;
        case Motion::Jump:
            h.p.x += static_cast<float>(uniform(rng, -500, 500));
            h.p.y += static_cast<float>(uniform(rng, -500, 500));
            h.p.z += static_cast<float>(uniform(rng, -800, 800));
            break;
    }
    clampToRoom(h.p);
}

// One frame: the hand count and the points the viewer would hand over.
struct Frame {
    int32_t count = 0;
    Point3f world[3];
};

// Frames of one sequence: stretches without hands and stretches of one, two
// or (rarely) three hands that hold, stroke, wander and jump, with two-hand
// stretches long enough for the reference to be taken and moves that open,
// close, raise, push and tilt the pair.
std::vector<Frame> randomFrames(Rng& rng) {
    std::vector<Frame> frames;
    Hand hands[3];
    const int stretches = uniform(rng, 4, 10);
    for (int s = 0; s < stretches; ++s) {
        const int r = uniform(rng, 0, 99);
        const int32_t count = r < 35 ? 0 : r < 70 ? 1 : r < 97 ? 2 : 3;
        if (count == 0) {
            frames.insert(frames.end(), static_cast<size_t>(uniform(rng, 1, 3)), Frame{});
            continue;
        }
        if (count >= 2 && chance(rng, 0.7)) {
            // Level and apart, as the reference wants them.
            hands[1].p = {hands[0].p.x + static_cast<float>(uniform(rng, 250, 500)), hands[0].p.y,
                          hands[0].p.z + static_cast<float>(uniform(rng, -20, 20))};
        }
        const int length = count >= 2 ? uniform(rng, 20, 90) : uniform(rng, 10, 90);
        // Phases alternate between holding still and moving, as gestures do.
        int phaseLeft = 0;
        int turnAt = -1;  // a move that goes out and comes back turns here
        bool holding = chance(rng, 0.5);
        Motion motion[3] = {Motion::Hold, Motion::Hold, Motion::Hold};
        for (int f = 0; f < length; ++f) {
            if (phaseLeft-- <= 0) {
                holding = !holding;
                phaseLeft = holding ? uniform(rng, 6, 20) : uniform(rng, 3, 16);
                turnAt = !holding && chance(rng, 0.5) ? phaseLeft / 2 : -1;
                const bool together = count >= 2 && chance(rng, 0.5);
                const Point3f shared = randomVelocity(rng);
                for (int h = 0; h < count; ++h) {
                    const int m = uniform(rng, 0, 99);
                    motion[h] = holding || m < 10 ? Motion::Hold
                                : m < 75          ? Motion::Stroke
                                : m < 97          ? Motion::Wander
                                                  : Motion::Jump;
                    hands[h].v = randomVelocity(rng);
                    if (together) {
                        // The pair moves as one, or mirrored (open, close, tilt).
                        motion[h] = motion[0];
                        const bool mirrored = h == 1 && chance(rng, 0.5);
                        hands[h].v = mirrored ? Point3f{-shared.x, -shared.y, shared.z} : shared;
                    }
                }
            }
            if (phaseLeft == turnAt) {
                for (Hand& h : hands) h.v = {-h.v.x, -h.v.y, -h.v.z};
            }
            Frame frame;
            frame.count = count;
            for (int h = 0; h < count; ++h) {
                step(rng, hands[h], motion[h]);
                if (h < 2) frame.world[h] = hands[h].p;
            }
            if (count >= 2) {
                frame.world[2] = {(hands[0].p.x + hands[1].p.x) / 2,
                                  (hands[0].p.y + hands[1].p.y) / 2,
                                  (hands[0].p.z + hands[1].p.z) / 2};
            }
            if (chance(rng, 0.002)) {
                // Tracker garbage once in a while.
                const float garbage[] = {std::nanf(""), 1e9f, -1e9f, INFINITY};
                frame.world[uniform(rng, 0, 2)].y = pick(rng, garbage);
            }
            frames.push_back(frame);
        }
    }
    frames.push_back(Frame{});  // every sequence ends with its hands gone
    return frames;
}

// ------------------------------------------------------------ the property

std::string describe(const Point3f& p) {
    char text[80];
    std::snprintf(text, sizeof text, "(%.0f, %.0f, %.0f)", double{p.x}, double{p.y}, double{p.z});
    return text;
}

// Runs one sequence; returns "" or what went wrong, with the context to
// reproduce it.
std::string runSequence(uint64_t seed, const std::string& configPath) {
    Rng rng(seed);
    const std::string config = randomConfig(rng);
    const std::vector<Frame> frames = randomFrames(rng);
    std::ofstream(configPath) << config;

    platform::RecordingDesktop desktop;
    auto feed = std::make_unique<GestureFeed>(desktop);
    EventRouter& router = feed->manager().router();
    CursorThread& worker = router.mouse().cursor();
    worker.stop();
    if (router.loadGestureConfig(configPath.c_str(), 640, 480) != 0) {
        std::string errors;
        for (const std::string& e : router.loadErrors()) errors += e + "\n";
        return "the configuration did not load:\n" + errors + config;
    }
    desktop.take();

    fuzz::InputLedger ledger;
    std::string problem;
    size_t at = 0;
    auto check = [&](const char* when) {
        for (const platform::InputRecord& r : desktop.take()) {
            const std::string wrong = ledger.add(r);
            if (!wrong.empty() && problem.empty()) problem = std::string(when) + ": " + wrong;
        }
    };
    auto allUp = [&](const char* when) {
        const std::string down = ledger.down();
        if (!down.empty() && problem.empty()) problem = std::string(when) + ": still down: " + down;
        const KeyboardEmitter& keys = router.keyboard();
        for (int k = 0; k < keys.keyCount() && problem.empty(); ++k) {
            if (keys.key(k).down != 0) {
                problem = std::string(when) + ": the keyboard emitter holds key " +
                          std::to_string(keys.key(k).vk);
            }
        }
        const MouseEmitter& mouse = router.mouse();
        for (int b = 0; b < mouse.buttonCount() && problem.empty(); ++b) {
            if (mouse.button(b).down != 0) {
                problem = std::string(when) + ": the mouse emitter holds code " +
                          std::to_string(mouse.button(b).code);
            }
        }
    };

    const Point3f depth[3] = {{160, 120, 1800}, {200, 120, 1800}, {180, 120, 1800}};
    FeedbackState state;
    int32_t previousCount = 0;
    for (; at < frames.size() && problem.empty(); ++at) {
        const Frame& f = frames[at];
        worker.holdFlag.store(chance(rng, 0.1) ? 1 : 0);
        feed->feedHandPoints(depth, f.world, f.count, state);
        check("frame");
        if (f.count == 0 && previousCount != 0) allUp("first frame without hands");
        previousCount = f.count;
    }
    if (problem.empty()) {
        // Teardown lets go of whatever the last frames left down.
        feed.reset();
        check("teardown");
        const std::string down = ledger.down();
        if (!down.empty()) problem = "after teardown, still down: " + down;
    }
    if (problem.empty()) return "";

    std::string context = problem + "\nat frame " + std::to_string(at - 1) + " of " +
                          std::to_string(frames.size()) + "; the frames before it:\n";
    for (size_t k = at >= 6 ? at - 6 : 0; k < at; ++k) {
        context += "  " + std::to_string(k) + ": " + std::to_string(frames[k].count) + " hands";
        for (int h = 0; h < std::min(frames[k].count, 2); ++h) {
            context += " " + describe(frames[k].world[h]);
        }
        context += "\n";
    }
    return context + "configuration:\n" + config;
}

TEST(GestureFeedProperty, EveryPressIsReleasedByTheFirstFrameWithoutHands) {
    const long sequences = envNumber("TOLVANE_PROPERTY_SEQUENCES", 1000);
    const uint64_t base = static_cast<uint64_t>(envNumber("TOLVANE_PROPERTY_SEED", 1));
    const long only = envNumber("TOLVANE_PROPERTY_ONLY", -1);
    const std::string configPath =
        testing::TempDir() + "gesture_feed_property_" + std::to_string(getpid()) + ".txt";

    long failed = -1;
    std::string problem;
    {
        std::unique_ptr<QuietStdout> quiet;
        if (only < 0) quiet = std::make_unique<QuietStdout>();
        for (long i = only < 0 ? 0 : only; i < (only < 0 ? sequences : only + 1); ++i) {
            problem = runSequence(base * 1000003u + static_cast<uint64_t>(i), configPath);
            if (!problem.empty()) {
                failed = i;
                break;
            }
        }
    }
    std::remove(configPath.c_str());
    EXPECT_EQ(failed, -1) << "sequence " << failed << " (TOLVANE_PROPERTY_SEED=" << base
                          << " TOLVANE_PROPERTY_ONLY=" << failed << "):\n"
                          << problem;
}

}  // namespace
}  // namespace gesture
