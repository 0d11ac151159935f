#include "gesture/GestureManager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "config/Vocabulary.h"
#include "input/KeyboardEmitter.h"
#include "input/MouseEmitter.h"
#include "platform/Log.h"

namespace gesture {

namespace {

constexpr float kWorldLimit = 1.0e6f;      // mm; anything farther is tracker garbage
constexpr float kGestureOrigin = 5000.0f;  // mm added to x and subtracted from y
constexpr float kMaxCursorSpeed = 300.0f;  // cm/s; faster hands do not move the cursor
constexpr int32_t kHoldValue = 10000;      // measure passed to the HAND_HOLD rule
constexpr int32_t kClickValue = 100000;    // measure of the down-stroke click
constexpr float kClickAcceleration = 3000.0f;
constexpr float kClickSpeed = 100.0f;
constexpr float kDepthDeadZone = 20.0f;  // mm in front of or behind the hold point
// Two-hand blocks: how level the hands must be for their depth and height
// against the reference to count, the tilt dead zone, the spread bands and
// the dead zone between the hands' depths (mm).
constexpr float kLevelForDepth = 100.0f;
constexpr float kLevelForHeight = 50.0f;
constexpr float kTiltDeadZone = 20.0f;
constexpr float kOpenFrom = 300.0f;
constexpr float kCloseBelow = 200.0f;
constexpr float kHandPushDeadZone = 20.0f;

bool fired(int32_t result) {
    return (result & kResultFired) != 0;
}

// Measures go to the emitters as whole numbers, truncated toward zero.
int32_t toValue(float v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(v, -2.0e9f, 2.0e9f));
}

float clampWorld(float v) {
    if (std::isnan(v)) {
        return 0.0f;
    }
    return std::clamp(v, -kWorldLimit, kWorldLimit);
}

// The gestures of the one-hand recogniser, by role.
struct GestureSet {
    int32_t push, back, left, right, up, down;
};
constexpr GestureSet kOneHandSet{GestureId::ONE_HAND_PUSH, GestureId::ONE_HAND_BACK,
                                 GestureId::ONE_HAND_LEFT, GestureId::ONE_HAND_RIGHT,
                                 GestureId::ONE_HAND_UP,   GestureId::ONE_HAND_DOWN};
constexpr GestureSet kHandSet{GestureId::HAND_PUSH,  GestureId::HAND_BACK, GestureId::HAND_LEFT,
                              GestureId::HAND_RIGHT, GestureId::HAND_UP,   GestureId::HAND_DOWN};

// Two-hand gestures whose active rule lights the two-hand dot.
constexpr int32_t kTwoHandGestures[] = {GestureId::TWO_HANDS_PUSH, GestureId::TWO_HANDS_BACK,
                                        GestureId::TWO_HANDS_UP,   GestureId::TWO_HANDS_DOWN,
                                        GestureId::TWO_HANDS_OPEN, GestureId::TWO_HANDS_CLOSE,
                                        GestureId::TURN_LEFT,      GestureId::TURN_RIGHT,
                                        GestureId::LEFT_HAND_PUSH, GestureId::RIGHT_HAND_PUSH};

}  // namespace

Point3i GestureManager::CursorTrack::step(const Point3i& p, uint64_t now) {
    Point3i displacement;
    if (frame != 0 && frame == now) {  // seen in the frame just before
        displacement = {p.x - last.x, p.y - last.y, 0};
    }
    last = p;
    frame = now + 1;
    return displacement;
}

GestureManager::GestureManager(platform::Desktop& desktop)
    : router_(std::make_unique<EventRouter>(desktop)),
      trajectory_(std::make_unique<Trajectory>()) {}

GestureManager::~GestureManager() {
    logLine("\nrelease keys & mouse...\n");
    if (router_) {
        router_->releaseAllAtExit();
        router_.reset();
    }
    trajectory_.reset();
}

Point3i GestureManager::toGesturePoint(const Point3f& world) {
    return {static_cast<int32_t>(clampWorld(world.x) + kGestureOrigin),
            static_cast<int32_t>(kGestureOrigin - clampWorld(world.y)),
            static_cast<int32_t>(clampWorld(world.z))};
}

void GestureManager::processFrame(std::span<const Point3f, kPoints> world, int32_t count,
                                  FeedbackState& state) {
    if (count < 0) {
        logLine("gesture: hand count %d is negative; treating the frame as one without hands\n",
                count);
        count = 0;
    }
    ++frame_;
    if (sink_ != nullptr) {
        decisions_ = FrameDecisions{};
        decisions_.frame = frame_;
        decisions_.count = count;
    }

    const int32_t converted = count == 2 ? kPoints : std::min(count, kPoints);
    for (int32_t i = 0; i < kPoints; ++i) {
        points_[i] = i < converted ? toGesturePoint(world[i]) : Point3i{};
    }

    GestureFeatures& f = features_;
    computeFeatures(points_, count, f);

    if (count == 0) {
        recogniseOneHand(points_[0], f, 0);
    } else if (count == 1 && f.valid == 1) {
        recogniseOneHand(points_[0], f, count);
    } else if (count == 2 && f.valid == 1) {
        recogniseTwoHands(points_[0], f, count);
    }

    state.mode = f.oneHandMode;
    state.twoHandBox = f.twoHandMode;
    state.anchorFollows = f.holding;
    state.mouseActive = f.subMode;
    state.active = f.valid;
    state.twoHandDot = count == 2 && anyActive(kTwoHandGestures) ? 1 : 0;
    state.singleBeep = f.edge;
    state.doubleBeep = f.referenceSet;
    if (sink_ != nullptr) publishDecisions(count, f);
}

void GestureManager::note(int32_t gesture, int32_t value, int32_t result) {
    decisions_.addJudgement(gesture, value, router_->gestureThreshold(gesture), result);
    if (fired(result)) decisions_.firedGesture = gesture;
}

void GestureManager::publishDecisions(int32_t count, const GestureFeatures& f) {
    FrameDecisions& d = decisions_;
    d.holdState = holdDetector_.state();
    d.holdCount = holdDetector_.count();
    d.holdLength = holdDetector_.windowLength();
    d.strokePoints = trajectory_->pointCount();
    d.strokeWidth = trajectory_->width();
    d.strokeHeight = trajectory_->height();
    d.strokeDepth = trajectory_->depthExtent();
    d.referenceSet = reference_.isSet() ? 1 : 0;
    d.referenceCounter = reference_.frameCounter();
    d.mouseMode = mouseMode_.state();
    if (count == 0 || count > 2 || f.valid == 0) d.path = RecognisedPath::NONE;
    sink_->frameDecided(d, f, *router_);
}

void GestureManager::clearHoldPoint() {
    holdPoint_[0] = holdPoint_[1] = holdPoint_[2] = 0.0f;
}

void GestureManager::computeFeatures(std::span<const Point3i, kPoints> points, int32_t count,
                                     GestureFeatures& f) {
    f = GestureFeatures{};
    f.strokeClass = StrokeClass::NONE;
    f.valid = 1;
    f.oneHandMode = router_->oneHandMode;
    f.twoHandMode = router_->twoHandMode;
    const int32_t handsChanged = count != previousCount_ ? 1 : 0;
    const bool tracked = count == 1 || count == 2;

    if (count == 0) {
        clearHoldPoint();
        reference_.clear();
        if (previousCount_ == 1) {
            router_->clearAllRuleStates();
        }
        if (sink_ != nullptr && previousCount_ != 0) decisions_.cleared = Cleared::HANDS_LOST;
        if (handsChanged) {
            router_->releaseAll();
        }
    } else if (count == 2) {
        const Point3i& p0 = points[0];
        const Point3i& p1 = points[1];
        const float cx = static_cast<float>(p0.x + p1.x) * 0.5f;
        const float cy = static_cast<float>(p0.y + p1.y) * 0.5f;
        const float cz = static_cast<float>(p0.z + p1.z) * 0.5f;
        const int32_t dx = p1.x - p0.x;
        const int32_t dy = p1.y - p0.y;
        const int32_t dz = p1.z - p0.z;
        // Oriented from the left hand (smaller x) to the right one.
        const float orientation = dx < 0 ? -1.0f : 1.0f;
        f.handsDeltaX = static_cast<float>(dx);
        f.handsDeltaY = orientation * static_cast<float>(dy);
        f.handsDeltaZ = orientation * static_cast<float>(dz);
        const bool hadReference = reference_.isSet();
        f.referenceSet = reference_.update(cx, cy, static_cast<float>(points[2].z), dy, dz);
        if (sink_ != nullptr) {
            decisions_.referenceAttempt = !hadReference && reference_.frameCounter() == 0 ? 1 : 0;
            decisions_.handsDy = dy;
            decisions_.handsDz = dz;
        }
        f.refDeltaY = reference_.y() - cy;
        f.refDeltaZ = cz - reference_.z();
    }

    if (tracked) {
        const Point3i& hand = count == 1 ? points[0] : points[1];
        f.holding = holdDetector_.detect(hand, handsChanged, frameRate);
        if (f.holding) {
            holdPoint_[0] = static_cast<float>(hand.x);
            holdPoint_[1] = static_cast<float>(hand.y);
            holdPoint_[2] = static_cast<float>(hand.z);
            if (count == 1) {
                router_->clearAllRuleStates();
                if (sink_ != nullptr) decisions_.cleared = Cleared::REST;
            }
            if (!previousHolding_) {
                trajectory_->clear();
            }
        } else {
            const MotionSample motion = trajectory_->analyseMotion();
            trajectory_->appendPoint(hand);
            f.strokeClass = trajectory_->classifyStroke();
            f.speed = motion.speed;
            f.peakAcceleration = motion.peakAcceleration;
            f.direction = motion.direction;
        }
        f.holdDeltaX = holdPoint_[0] - static_cast<float>(hand.x);
        f.holdDeltaY = holdPoint_[1] - static_cast<float>(hand.y);
        f.holdDeltaZ = static_cast<float>(hand.z) - holdPoint_[2];

        if (count == 1) {
            if (holdPoint_[0] != 0.0f) {
                if (holdPointFlag_ == 0) {
                    f.edge = 1;
                }
                holdPointFlag_ = 1;
            } else {
                holdPointFlag_ = 0;
            }
        }
    }

    if (count == 0 || (count == 1 && holdPoint_[0] == 0.0f) ||
        (count == 2 && !reference_.isSet())) {
        f.valid = 0;
    }
    previousCount_ = count;
    previousHolding_ = f.holding;
}

bool GestureManager::anyActive(std::span<const int32_t> gestures) {
    return std::any_of(gestures.begin(), gestures.end(),
                       [this](int32_t g) { return router_->gestureActive(g) != 0; });
}

void GestureManager::recogniseTwoHands(const Point3i& p, GestureFeatures& f, int32_t count) {
    if (count == 0) {
        return;
    }
    if (f.twoHandMode == InputMode::KEYBOARD_MODE) {
        twoHandKeyboard(f);
    } else if (f.twoHandMode == InputMode::MOUSE_MODE) {
        // The first hand steers the cursor; the one-hand gestures are judged
        // on the tracked (second) hand's features.
        const Point3i d = twoHandCursor_.step(p, frame_);
        if (f.speed < kMaxCursorSpeed) {
            router_->routeMove(d.x, d.y, GestureId::HAND_MOVE, toValue(f.speed));
        }
        recogniseOneHand(p, f, count);
    }
}

namespace {

// The five blocks of the two-hand recogniser: a pair of competing gestures
// and the gestures whose active rule keeps the block from being judged.
struct Block {
    int32_t first, second;
    int32_t blockers[8];
};
namespace G = GestureId;
constexpr Block kBlocks[FrameDecisions::kBlocks] = {
    {G::TWO_HANDS_BACK,
     G::TWO_HANDS_PUSH,
     {G::TWO_HANDS_UP, G::TWO_HANDS_DOWN, G::TWO_HANDS_OPEN, G::TWO_HANDS_CLOSE, G::LEFT_HAND_PUSH,
      G::RIGHT_HAND_PUSH, G::TURN_LEFT, G::TURN_RIGHT}},
    {G::TWO_HANDS_UP,
     G::TWO_HANDS_DOWN,
     {G::TWO_HANDS_PUSH, G::TWO_HANDS_BACK, G::TWO_HANDS_OPEN, G::TWO_HANDS_CLOSE,
      G::LEFT_HAND_PUSH, G::RIGHT_HAND_PUSH, G::TURN_LEFT, G::TURN_RIGHT}},
    {G::TURN_LEFT,
     G::TURN_RIGHT,
     {G::TWO_HANDS_PUSH, G::TWO_HANDS_BACK, G::TWO_HANDS_UP, G::TWO_HANDS_DOWN, G::TWO_HANDS_OPEN,
      G::TWO_HANDS_CLOSE, G::LEFT_HAND_PUSH, G::RIGHT_HAND_PUSH}},
    {G::TWO_HANDS_OPEN,
     G::TWO_HANDS_CLOSE,
     {G::TWO_HANDS_PUSH, G::TWO_HANDS_BACK, G::TWO_HANDS_UP, G::TWO_HANDS_DOWN, G::LEFT_HAND_PUSH,
      G::RIGHT_HAND_PUSH, G::TURN_LEFT, G::TURN_RIGHT}},
    {G::LEFT_HAND_PUSH,
     G::RIGHT_HAND_PUSH,
     {G::TWO_HANDS_PUSH, G::TWO_HANDS_BACK, G::TWO_HANDS_UP, G::TWO_HANDS_DOWN, G::TWO_HANDS_OPEN,
      G::TWO_HANDS_CLOSE, G::TURN_LEFT, G::TURN_RIGHT}},
};

}  // namespace

TwoHandBlock GestureManager::blockCandidate(int block, const GestureFeatures& f) {
    const Block& b = kBlocks[block];
    TwoHandBlock c;
    const auto pick = [&c](int32_t gesture, float value) {
        c.gesture = gesture;
        c.value = value;
    };
    const auto level = [&c](float measure, float limit) {
        c.levelMeasure = std::fabs(measure);
        c.levelLimit = limit;
        c.notLevel = std::fabs(measure) < limit ? 0 : 1;
    };
    switch (block) {
        case 0:  // depth of the hands against the reference
            level(f.handsDeltaZ, kLevelForDepth);
            if (f.refDeltaZ > 0.0f) {
                pick(b.first, f.refDeltaZ);
            } else if (f.refDeltaZ < 0.0f) {
                pick(b.second, -f.refDeltaZ);
            }
            break;
        case 1:  // height of the hands against the reference
            level(f.handsDeltaY, kLevelForHeight);
            if (f.refDeltaY > 0.0f) {
                pick(b.first, f.refDeltaY);
            } else if (f.refDeltaY < 0.0f) {
                pick(b.second, -f.refDeltaY);
            }
            break;
        case 2:  // tilt: the right hand lower turns left
            if (f.handsDeltaY > kTiltDeadZone) {
                pick(b.first, f.handsDeltaY);
            } else {
                pick(b.second, -f.handsDeltaY);
            }
            break;
        case 3: {  // spread; the closing measure grows as the hands meet
            const float spread = std::fabs(f.handsDeltaX);
            if (spread > kOpenFrom) {
                pick(b.first, spread);
            } else if (spread < kCloseBelow) {
                pick(b.second,
                     2.0f * static_cast<float>(router_->gestureThreshold(b.second)) - spread);
            }
            break;
        }
        default:  // one hand nearer than the other
            if (f.handsDeltaZ > kHandPushDeadZone) {
                pick(b.first, f.handsDeltaZ);
            } else if (f.handsDeltaZ < -kHandPushDeadZone) {
                pick(b.second, -f.handsDeltaZ);
            }
            break;
    }
    return c;
}

void GestureManager::twoHandKeyboard(const GestureFeatures& f) {
    // Each block evaluates a pair of competing gestures unless a gesture of
    // another block is active; a fired gesture disarms every other gesture of
    // its emitter.
    if (sink_ != nullptr) decisions_.path = RecognisedPath::TWO_HANDS;
    for (int block = 0; block < FrameDecisions::kBlocks; ++block) {
        const Block& b = kBlocks[block];
        int32_t blocker = 0;
        for (int32_t g : b.blockers) {
            if (router_->gestureActive(g) != 0) {
                blocker = g;
                break;
            }
        }
        if (sink_ != nullptr) {
            decisions_.blocks[block] = blockCandidate(block, f);
            decisions_.blocks[block].blockedBy = blocker;
        }
        if (blocker != 0) {
            continue;
        }
        const TwoHandBlock c = blockCandidate(block, f);
        int32_t first = 0;
        int32_t second = 0;
        if (c.gesture != 0 && c.notLevel == 0) {
            const int32_t value = toValue(c.value);
            const int32_t r = router_->routeGesture(c.gesture, value);
            if (sink_ != nullptr) note(c.gesture, value, r);
            (c.gesture == b.first ? first : second) = r;
        }
        if (fired(first)) {
            router_->clearOtherRuleStates(b.first);
        }
        if (fired(second)) {
            router_->clearOtherRuleStates(b.second);
        }
    }
}

void GestureManager::recogniseOneHand(const Point3i& p, GestureFeatures& f, int32_t count) {
    if (count == 0) {
        mouseMode_.reset();
        return;
    }

    const int32_t mode = f.oneHandMode;
    const bool subMode = mouseMode_.inGestureSubMode();
    if (sink_ != nullptr) {
        decisions_.path = mode == InputMode::MOUSE_MODE && subMode ? RecognisedPath::ONE_HAND_SET
                          : mode == InputMode::KEYBOARD_MODE || subMode ? RecognisedPath::HAND_SET
                          : mode == InputMode::MOUSE_MODE               ? RecognisedPath::CURSOR
                                                                        : RecognisedPath::NONE;
    }
    if (mode == InputMode::MOUSE_MODE && subMode) {
        gesturePath(f, true);
    } else if (mode == InputMode::KEYBOARD_MODE || subMode) {
        gesturePath(f, false);
    } else if (mode == InputMode::MOUSE_MODE) {
        cursorPath(p, f);
    }

    f.subMode = mouseMode_.inGestureSubMode() ? 1 : 0;
    if (mouseMode_.gestureSubModeOpened()) {
        f.edge = 1;
    }
}

void GestureManager::cursorPath(const Point3i& p, const GestureFeatures& f) {
    const Point3i d = cursorHand_.step(p, frame_);

    if (f.speed < kMaxCursorSpeed && !mouseMode_.frozen()) {
        router_->routeMove(d.x, d.y, GestureId::HAND_MOVE, toValue(f.speed));
    }

    // Holding the hand still switches to the gesture sub-mode.
    const int32_t holdType = router_->eventOfGesture[GestureId::HAND_HOLD];
    if (mouseMode_.state() == MouseMode::State::POINTER && holdType != 0) {
        const int32_t r =
            EventType::isKeyboard(holdType)
                ? router_->keyboard().handleGesture(GestureId::HAND_HOLD, kHoldValue)
                : router_->mouse().handleGesture(d.x, d.y, GestureId::HAND_HOLD, kHoldValue);
        if (sink_ != nullptr) note(GestureId::HAND_HOLD, kHoldValue, r);
        if (fired(r)) {
            mouseMode_.openGestureSubMode();
        }
    }

    // After a down gesture pressed, a fast downward stroke clicks at the
    // cursor and freezes it until the hand next holds still.
    if (mouseMode_.state() == MouseMode::State::DRAGGING &&
        f.peakAcceleration > kClickAcceleration && f.speed > kClickSpeed &&
        f.direction == Direction::DOWN) {
        const int32_t downType = router_->eventOfGesture[GestureId::ONE_HAND_DOWN];
        bool released = false;
        if (downType != 0) {
            const int32_t r =
                EventType::isKeyboard(downType)
                    ? router_->keyboard().handleGesture(GestureId::ONE_HAND_DOWN, kClickValue)
                    : router_->mouse().handleGestureAtCursor(GestureId::ONE_HAND_DOWN, kClickValue,
                                                             2);
            if (sink_ != nullptr) note(GestureId::ONE_HAND_DOWN, kClickValue, r);
            released = (r & kResultReleased) != 0;
        }
        mouseMode_.freeze(released);
    }

    if (f.holding == 1) {
        mouseMode_.rest();
    }
}

void GestureManager::gesturePath(const GestureFeatures& f, bool oneHandSet) {
    const GestureSet& g = oneHandSet ? kOneHandSet : kHandSet;
    auto route = [this](int32_t gesture, float value) {
        const int32_t v = toValue(value);
        const int32_t r = router_->routeGestureAtCursor(gesture, v, 1);
        if (sink_ != nullptr) note(gesture, v, r);
        return r;
    };
    int32_t rP = 0, rB = 0, rU = 0, rD = 0, rL = 0, rR = 0;

    const bool pushActive = active(g.push);
    const bool backActive = active(g.back);
    if (pushActive || backActive) {
        // A depth gesture in progress keeps its measure while the stroke is deep.
        if (f.strokeClass == StrokeClass::DEPTH) {
            if (pushActive) {
                rP = route(g.push, -f.holdDeltaZ);
            } else {
                rB = route(g.back, f.holdDeltaZ);
            }
        } else if (sink_ != nullptr) {
            decisions_.depthHeld = pushActive ? g.push : g.back;
        }
    } else if (std::fabs(f.holdDeltaZ) >= kDepthDeadZone) {
        if (f.holdDeltaZ < 0.0f) {
            rP = route(g.push, -f.holdDeltaZ);
        } else {
            rB = route(g.back, f.holdDeltaZ);
        }
    }
    if (fired(rP) || fired(rB)) {
        trajectory_->clear();
        mouseMode_.closeGestureSubMode();
    }

    if (sink_ != nullptr && ((rP | rB) & kResultActive) != 0) {
        decisions_.depthInProgress = (rP & kResultActive) != 0 ? g.push : g.back;
    }
    if (((rP | rB) & kResultActive) == 0) {
        // A gesture under way keeps its direction; otherwise the stroke's
        // sign chooses.
        if (f.strokeClass == StrokeClass::VERTICAL) {
            if (active(g.up) || (!active(g.down) && f.holdDeltaY > 0.0f)) {
                rU = route(g.up, f.holdDeltaY);
            } else {
                rD = route(g.down, -f.holdDeltaY);
            }
        } else if (f.strokeClass == StrokeClass::HORIZONTAL) {
            if (active(g.left) || (!active(g.right) && f.holdDeltaX > 0.0f)) {
                rL = route(g.left, f.holdDeltaX);
            } else {
                rR = route(g.right, -f.holdDeltaX);
            }
        }
    }

    if (fired(rU) || fired(rD) || fired(rL) || fired(rR)) {
        trajectory_->clear();
        mouseMode_.closeGestureSubMode();
    }
    if (rD & kResultPressed) {
        mouseMode_.armDrop();
    }
}

}  // namespace gesture
