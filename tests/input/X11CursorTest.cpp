// End to end under a private Xvfb: the worker moves the real pointer to the
// smoothed targets, and the emitter's button events reach an X client.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/Vocabulary.h"
#include "input/MouseEmitter.h"
#include "platform/X11Desktop.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

using Point = std::pair<int, int>;
using Type = XClientEvent::Type;

class X11Cursor : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.ok()) GTEST_SKIP() << server.error();
        client = std::make_unique<XClient>(server.display());
        ASSERT_TRUE(client->ok());
        std::string error;
        desktop = platform::X11Desktop::open(server.display().c_str(), error);
        ASSERT_TRUE(desktop) << error;
        emitter = std::make_unique<MouseEmitter>(*desktop);
        testing::internal::CaptureStdout();
        emitter->configureScreenMapping(640, 480);
        testing::internal::GetCapturedStdout();
    }

    // Hands the worker a target, waits until it has been taken, and reads the pointer back.
    Point moveTo(int x, int y) {
        emitter->cursor().moveTo(x, y);
        emitter->cursor().drain();
        desktop->cursorPos();  // a round trip: the server has seen the move
        Point p;
        client->pointer(p.first, p.second);
        return p;
    }

    XvfbServer server{1280, 1024};
    std::unique_ptr<XClient> client;
    std::unique_ptr<platform::X11Desktop> desktop;
    std::unique_ptr<MouseEmitter> emitter;
};

TEST_F(X11Cursor, TargetsMoveThePointerToTheSmoothedPositions) {
    EXPECT_EQ(emitter->cursor().settings().screenWidth, 1280);
    const std::pair<Point, Point> steps[] = {{{100, 200}, {100, 200}},
                                             {{110, 200}, {109, 200}},
                                             {{120, 205}, {118, 204}},
                                             {{135, 207}, {132, 206}},
                                             {{150, 215}, {148, 213}}};
    for (const auto& [target, pointer] : steps) {
        EXPECT_EQ(moveTo(target.first, target.second), pointer);
    }
}

TEST_F(X11Cursor, AClickAndAWheelNotchReachTheClient) {
    moveTo(300, 400);
    emitter->addRule(GestureId::HAND_PUSH, 100, KeyCode::M_LBUTTON, 0.0f, EventType::MOUSE_CLICK);
    emitter->registerButton(KeyCode::M_LBUTTON);
    emitter->registerButton(KeyCode::M_WHEEL);
    emitter->handleGesture(0, 0, GestureId::HAND_PUSH, 100);
    EXPECT_EQ(emitter->handleGesture(0, 0, GestureId::HAND_PUSH, 0), 4);
    EXPECT_EQ(emitter->buttonDown(0, 0, KeyCode::M_WHEEL), 2);
    EXPECT_EQ(emitter->buttonUp(0, 0, KeyCode::M_WHEEL), 4);

    const std::vector<XClientEvent> events = client->waitFor(4, 3000);
    ASSERT_EQ(events.size(), 4u);
    const std::pair<Type, unsigned> expected[] = {
        {Type::ButtonDown, 1}, {Type::ButtonUp, 1}, {Type::ButtonDown, 5}, {Type::ButtonUp, 5}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i].type, expected[i].first) << i;
        EXPECT_EQ(events[i].button, expected[i].second) << i;
        EXPECT_EQ((Point{events[i].x, events[i].y}), (Point{300, 400})) << i;
    }
}

}  // namespace
