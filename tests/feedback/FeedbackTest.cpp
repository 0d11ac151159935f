// The feedback logic against the recording window and desktop: where the
// window goes, which picture each frame state shows, that a steady state
// costs nothing, and the beeps and the Control tap.
#include "feedback/Feedback.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "feedback/Resources.h"
#include "platform/RecordingDesktop.h"
#include "platform/RecordingPictureWindow.h"

namespace {

using gesture::FeedbackState;
using platform::PictureWindowCall;
using Call = PictureWindowCall::Type;

// The index of the built-in picture a recorded draw showed, or -1.
int drawnPicture(const PictureWindowCall& call) {
    for (int i = 0; i < feedback::kPictureCount; ++i) {
        platform::PicturePixels pixels{};
        if (feedback::loadPicture(i, pixels) &&
            platform::pictureFingerprint(pixels) == call.picture)
            return i;
    }
    return -1;
}

FeedbackState flags(int mode, int active, int anchorFollows, int mouseActive, int twoHandDot) {
    FeedbackState s;
    s.mode = mode;
    s.twoHandBox = 1;
    s.active = active;
    s.anchorFollows = anchorFollows;
    s.mouseActive = mouseActive;
    s.twoHandDot = twoHandDot;
    return s;
}

class FeedbackTest : public ::testing::Test {
  protected:
    // Sets up with a feedback code and forgets the set-up calls.
    void setUp(int32_t code, platform::ScreenSize screen = {1920, 1080}) {
        auto owned = std::make_unique<platform::RecordingPictureWindow>(screen);
        window = owned.get();
        feedback = std::make_unique<feedback::Feedback>(std::move(owned), desktop);
        FeedbackState state;
        int32_t hands = 5;
        feedback->setup(code, state, hands);
        setupCalls = window->take();
    }

    // Runs one frame and returns its window calls.
    std::vector<PictureWindowCall> frame(const FeedbackState& state, int32_t hands) {
        feedback->update(state, hands);
        return window->take();
    }

    platform::RecordingDesktop desktop;
    platform::RecordingPictureWindow* window = nullptr;
    std::unique_ptr<feedback::Feedback> feedback;
    std::vector<PictureWindowCall> setupCalls;
};

}  // namespace

TEST_F(FeedbackTest, SetupResetsTheFlagsAndShowsPictureZeroAtTheBottom) {
    auto owned = std::make_unique<platform::RecordingPictureWindow>();
    auto* recording = owned.get();
    feedback::Feedback f(std::move(owned), desktop);
    FeedbackState state{2, 2, 1, 1, 1, 1, 1, 1};
    int32_t hands = 2;
    f.setup(0x41, state, hands);

    // The two-hand mode and the two-hand dot belong to the gesture manager alone.
    EXPECT_EQ(state, (FeedbackState{1, 2, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(hands, 0);
    EXPECT_EQ(f.windowMode(), 4);
    EXPECT_EQ(f.soundMode(), 1);
    EXPECT_EQ(f.stateChanged(), 0);

    const auto& calls = recording->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].type, Call::Create);
    EXPECT_EQ(calls[0].title, "Tolvane (Info Window)");
    EXPECT_EQ(calls[0].className, "Tolvane_Info");
    EXPECT_EQ(calls[0].width, 128);
    EXPECT_EQ(calls[0].height, 128);
    EXPECT_EQ(calls[1].type, Call::Lower);
    EXPECT_EQ(calls[2].type, Call::Draw);
    EXPECT_EQ(drawnPicture(calls[2]), 0);
}

TEST_F(FeedbackTest, WindowCodesPlaceTheWindow) {
    struct Case {
        int code;
        int x, y, alpha;
    };
    // An odd screen size shows how the centre rounds.
    const platform::ScreenSize screen{1025, 769};
    for (const Case c :
         {Case{1, 0, 0, 255}, Case{2, 897, 0, 255}, Case{3, 0, 641, 255}, Case{4, 897, 641, 255},
          Case{5, 448, 320, 160}, Case{6, 897, 641, 255}, Case{15, 897, 641, 255}}) {
        setUp(c.code << 4, screen);
        ASSERT_FALSE(setupCalls.empty());
        EXPECT_EQ(setupCalls[0].type, Call::Create) << c.code;
        EXPECT_EQ(setupCalls[0].x, c.x) << c.code;
        EXPECT_EQ(setupCalls[0].y, c.y) << c.code;
        EXPECT_EQ(setupCalls[0].alpha, c.alpha) << c.code;
    }
}

TEST_F(FeedbackTest, TheStateCodeChangesWithThePictureAndNotWithoutIt) {
    // Every state of the recognisers with 0 to 2 hands: the picture is
    // redrawn only when the code changes, so states of one mode with
    // different pictures must have different codes, and a flag the picture
    // does not show (the still hand with two hands, or in mouse mode between
    // gestures) must not change the code.
    struct Seen {
        FeedbackState state;
        int hands;
    };
    std::vector<Seen> all;
    for (int bits = 0; bits < 32; ++bits) {
        const FeedbackState s = flags(1 + (bits & 1), (bits >> 1) & 1, (bits >> 2) & 1,
                                      (bits >> 3) & 1, (bits >> 4) & 1);
        for (int hands = 0; hands <= 2; ++hands) all.push_back({s, hands});
    }
    for (const Seen& a : all) {
        for (const Seen& b : all) {
            if (a.state.mode == b.state.mode && feedback::pictureIndex(a.state, a.hands) !=
                                                    feedback::pictureIndex(b.state, b.hands)) {
                EXPECT_NE(feedback::stateCode(a.state, a.hands),
                          feedback::stateCode(b.state, b.hands));
            }
        }
        FeedbackState still = a.state;
        still.anchorFollows = 1 - still.anchorFollows;
        if (a.hands == 2 || (a.hands == 1 && a.state.mode == 2 && a.state.mouseActive == 0)) {
            EXPECT_EQ(feedback::stateCode(a.state, a.hands), feedback::stateCode(still, a.hands));
        }
    }
}

TEST_F(FeedbackTest, EachStateShowsItsPicture) {
    struct Case {
        FeedbackState state;
        int hands;
        int picture;
    };
    const std::array<Case, 11> cases = {{
        {flags(1, 0, 0, 0, 0), 1, 1},  // keyboard mode, not active
        {flags(1, 0, 1, 0, 0), 1, 1},
        {flags(1, 1, 1, 0, 0), 1, 2},  // active and still
        {flags(1, 1, 0, 0, 0), 1, 3},  // active and moving
        {flags(2, 1, 1, 0, 0), 1, 4},  // mouse mode, sub-mode off
        {flags(2, 1, 1, 1, 0), 1, 5},  // sub-mode on, still
        {flags(2, 0, 0, 1, 0), 1, 6},  // sub-mode on, moving
        {flags(1, 0, 0, 0, 1), 2, 7},  // two hands, not active
        {flags(2, 1, 1, 1, 0), 2, 8},
        {flags(1, 1, 0, 0, 1), 2, 9},  // a two-hand rule under way
        {flags(1, 1, 0, 0, 0), 0, 0},
    }};
    for (const Case& c : cases) {
        setUp(0x40);
        // Start from a frame whose code differs from the case's.
        frame(flags(1, 0, 0, 0, 0), c.hands == 1 ? 2 : 1);
        const auto calls = frame(c.state, c.hands);
        ASSERT_EQ(calls.size(), 2u) << "picture " << c.picture;
        EXPECT_EQ(calls[0].type, c.hands == 0 ? Call::Lower : Call::Raise) << c.picture;
        EXPECT_EQ(calls[1].type, Call::Draw);
        EXPECT_EQ(drawnPicture(calls[1]), c.picture);
        EXPECT_EQ(feedback->stateChanged(), 1);
        EXPECT_EQ(feedback::pictureIndex(c.state, c.hands), c.picture);
    }
}

TEST_F(FeedbackTest, ASteadyStateMakesNoWindowCall) {
    setUp(0x41);
    // The first frame without hands matches the state set up: picture 0 stays.
    EXPECT_TRUE(frame(flags(1, 0, 0, 0, 0), 0).empty());
    EXPECT_EQ(feedback->stateChanged(), 0);

    ASSERT_EQ(frame(flags(1, 1, 0, 0, 0), 1).size(), 2u);
    EXPECT_EQ(feedback->previousStateCode(), 0x41);
    FeedbackState same = flags(1, 1, 0, 0, 0);
    same.twoHandBox = 2;  // neither the beep flags nor the two-hand mode change the picture
    same.doubleBeep = 1;
    EXPECT_TRUE(frame(same, 1).empty());
    EXPECT_EQ(feedback->stateChanged(), 0);

    // In mouse mode outside the sub-mode the hand stopping or moving changes nothing.
    ASSERT_EQ(frame(flags(1, 1, 1, 0, 0), 1).size(), 2u);
    ASSERT_EQ(frame(flags(2, 1, 0, 0, 0), 1).size(), 2u);
    EXPECT_TRUE(frame(flags(2, 1, 1, 0, 0), 1).empty());
    EXPECT_TRUE(frame(flags(2, 1, 0, 0, 0), 1).empty());
    // Events are still handled on every frame with a window.
    EXPECT_EQ(window->eventPolls(), 7);
}

TEST_F(FeedbackTest, AHandComesAndGoes) {
    setUp(0x40);
    auto calls = frame(flags(1, 0, 0, 0, 0), 1);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].type, Call::Raise);
    EXPECT_EQ(drawnPicture(calls[1]), 1);
    calls = frame(flags(1, 0, 0, 0, 0), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].type, Call::Lower);
    EXPECT_EQ(drawnPicture(calls[1]), 0);
    // Three hands: the code changes but nothing is shown.
    EXPECT_TRUE(frame(flags(1, 1, 0, 0, 0), 3).empty());
    EXPECT_EQ(feedback->stateChanged(), 1);
}

TEST_F(FeedbackTest, NoWindowModeShowsNothingButStillBeeps) {
    setUp(0x01);
    EXPECT_TRUE(setupCalls.empty());
    EXPECT_EQ(feedback->windowMode(), 0);
    testing::internal::CaptureStdout();
    FeedbackState s = flags(1, 1, 0, 0, 0);
    s.singleBeep = 1;
    EXPECT_TRUE(frame(s, 1).empty());
    EXPECT_TRUE(frame(flags(1, 1, 0, 0, 0), 2).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a");
    EXPECT_EQ(window->eventPolls(), 0);
}

TEST_F(FeedbackTest, Sounds) {
    setUp(0x41);
    using platform::InputRecord;
    const InputRecord controlDown{InputRecord::Type::Key, {17, 0, 0, 0, 0}, {}};
    const InputRecord controlUp{
        InputRecord::Type::Key, {17, 0, platform::KEYEVENTF_KEYUP, 0, 0}, {}};

    // Mouse mode, the gesture sub-mode just switched on: one bell, one Control tap.
    FeedbackState s = flags(2, 1, 0, 1, 0);
    s.singleBeep = 1;
    testing::internal::CaptureStdout();
    frame(s, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a");
    EXPECT_EQ(desktop.take(), (std::vector<InputRecord>{controlDown, controlUp}));

    // The two-hand reference taken: two bells, no key.
    s = flags(1, 1, 0, 0, 0);
    s.doubleBeep = 1;
    testing::internal::CaptureStdout();
    frame(s, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a\a");

    // A hold point in keyboard mode, or in mouse mode outside the sub-mode:
    // a bell without the tap.
    s = flags(1, 1, 1, 0, 0);
    s.singleBeep = 1;
    testing::internal::CaptureStdout();
    frame(s, 1);
    s.mode = 2;
    frame(s, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a\a");
    EXPECT_TRUE(desktop.take().empty());

    // Sound off: silence, whatever the flags.
    setUp(0x40);
    s = flags(2, 1, 0, 1, 0);
    s.singleBeep = 1;
    s.doubleBeep = 1;
    testing::internal::CaptureStdout();
    frame(s, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(desktop.take().empty());
}

TEST_F(FeedbackTest, AWindowThatFailsToOpenLeavesTheRestWorking) {
    auto owned = std::make_unique<platform::RecordingPictureWindow>();
    owned->failCreate();
    feedback::Feedback f(std::move(owned), desktop);
    FeedbackState state;
    int32_t hands = 0;
    f.setup(0x31, state, hands);
    FeedbackState s = flags(1, 1, 0, 0, 0);
    s.singleBeep = 1;
    testing::internal::CaptureStdout();
    f.update(s, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a");
    EXPECT_EQ(f.stateChanged(), 1);
}
