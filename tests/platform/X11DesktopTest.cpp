// End to end: events sent through the X11 backend reach a real X client on a
// private Xvfb.
#include "platform/X11Desktop.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "config/EventRouter.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

class X11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.ok()) GTEST_SKIP() << server.error();
        client = std::make_unique<XClient>(server.display());
        ASSERT_TRUE(client->ok());
        std::string error;
        desktop = platform::X11Desktop::open(server.display().c_str(), error);
        ASSERT_TRUE(desktop) << error;
    }

    XvfbServer server{1024, 768};
    std::unique_ptr<XClient> client;
    std::unique_ptr<platform::X11Desktop> desktop;
};

using Type = XClientEvent::Type;

}  // namespace

TEST_F(X11, AKeyboardRuleReachesTheFocusedClient) {
    EventRouter router(*desktop);
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\nHAND_LEFT 10 KEY_CLICK q 0 0\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(router.loadGestureConfig(config.path().c_str(), 320, 240), 0);
    router.keyboard().handleGesture(GestureId::HAND_RIGHT, 150);
    router.keyboard().handleGesture(GestureId::HAND_RIGHT, 0);
    router.keyboard().handleGesture(GestureId::HAND_LEFT, 150);
    router.keyboard().handleGesture(GestureId::HAND_LEFT, 0);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(">>> key : RIGHT - down\t>>> key : RIGHT - release\n"), std::string::npos);
    const auto events = client->waitFor(4, 3000);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, Type::KeyDown);
    EXPECT_EQ(events[0].keysym, static_cast<unsigned long>(XK_Right));
    EXPECT_EQ(events[1].type, Type::KeyUp);
    EXPECT_EQ(events[1].keysym, static_cast<unsigned long>(XK_Right));
    EXPECT_EQ(events[2].keysym, static_cast<unsigned long>(XK_q));
    EXPECT_EQ(events[3].type, Type::KeyUp);
}

TEST_F(X11, AHeldKeyDoesNotAutorepeatAndGetsItsRepeatBack) {
    ASSERT_TRUE(client->autoRepeat(XK_Up));
    desktop->sendKey({38, 0xC8, 0, 0, 0});
    EXPECT_FALSE(client->autoRepeat(XK_Up));
    desktop->sendKey({38, 0xC8, platform::KEYEVENTF_KEYUP, 0, 0});
    EXPECT_TRUE(client->autoRepeat(XK_Up));
    const auto events = client->waitFor(2, 3000);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, Type::KeyDown);
    EXPECT_EQ(events[1].type, Type::KeyUp);
}

TEST_F(X11, KeysMissingFromTheKeymapAreBoundToASpareKeycode) {
    desktop->sendKey({0x7C, 0, 0, 0, 0});  // F13
    desktop->sendKey({0x7C, 0, platform::KEYEVENTF_KEYUP, 0, 0});
    const auto events = client->waitFor(2, 3000);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keysym, static_cast<unsigned long>(XK_F13));
}

TEST_F(X11, PseudoKeysSendNothing) {
    desktop->sendKey({240, 0, 0, 0, 0});
    desktop->sendKey({240, 0, platform::KEYEVENTF_KEYUP, 0, 0});
    desktop->sendKey({'Z', 0, 0, 0, 0});
    desktop->sendKey({'Z', 0, platform::KEYEVENTF_KEYUP, 0, 0});
    const auto events = client->waitFor(3, 500);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keysym, static_cast<unsigned long>(XK_z));
}

TEST_F(X11, AbsoluteMovesButtonsAndTheScreen) {
    EXPECT_EQ(desktop->screenSize().width, 1024);
    EXPECT_EQ(desktop->screenSize().height, 768);
    platform::MouseInput move;
    move.flags = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_VIRTUALDESK |
                 platform::MOUSEEVENTF_ABSOLUTE;
    move.dx = static_cast<int32_t>(300.0f / 1024.0f * 65535.0f);
    move.dy = static_cast<int32_t>(200.0f / 768.0f * 65535.0f);
    desktop->sendMouse(move);
    // Moves are only flushed; reading the position back is a round trip, after
    // which the server has seen the move for every client.
    EXPECT_EQ(desktop->cursorPos().x, 300);
    int x = 0;
    int y = 0;
    client->pointer(x, y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 200);
    platform::MouseInput button;
    button.flags = platform::MOUSEEVENTF_RIGHTDOWN;
    desktop->sendMouse(button);
    button.flags = platform::MOUSEEVENTF_RIGHTUP;
    desktop->sendMouse(button);
    const auto events = client->waitFor(2, 3000);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, Type::ButtonDown);
    EXPECT_EQ(events[0].button, 3u);
    EXPECT_EQ(events[0].x, 300);
    EXPECT_EQ(events[1].type, Type::ButtonUp);
}

TEST(X11Open, AMissingDisplayIsAClearError) {
    std::string error;
    EXPECT_FALSE(platform::X11Desktop::open(":987", error));
    EXPECT_NE(error.find(":987"), std::string::npos);
}

TEST(Normalised, RoundTripsEveryPixel) {
    for (int size : {768, 1024, 1080, 1920, 2560}) {
        for (int p = 0; p < size; ++p) {
            const int32_t n = static_cast<int32_t>(static_cast<float>(p) / size * 65535.0f);
            ASSERT_EQ(platform::normalisedToPixel(n, size), p) << size;
        }
    }
    EXPECT_EQ(platform::normalisedToPixel(70000, 100), 99);
    EXPECT_EQ(platform::normalisedToPixel(-5, 100), 0);
}
