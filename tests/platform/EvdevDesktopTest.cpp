// The uinput backend's event stream, through stand-in devices, and the live
// devices where /dev/uinput opens.
#include "platform/EvdevDesktop.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/UinputDesktop.h"

namespace {

struct Event {
    uint16_t type, code;
    int32_t value;
    bool operator==(const Event&) const = default;
};

class RecordingSink final : public platform::EvdevSink {
  public:
    explicit RecordingSink(std::vector<Event>& events) : events_(events) {}
    void write(uint16_t type, uint16_t code, int32_t value) override {
        events_.push_back({type, code, value});
    }

  private:
    std::vector<Event>& events_;
};

class Evdev : public ::testing::Test {
  protected:
    std::vector<Event> keyboard, pointer;
    platform::EvdevDesktop desktop{std::make_unique<RecordingSink>(keyboard),
                                   std::make_unique<RecordingSink>(pointer),
                                   {1920, 1080}};
};

constexpr Event kSync{EV_SYN, SYN_REPORT, 0};

}  // namespace

TEST_F(Evdev, KeysAreEvdevCodesByUsPositionEachFollowedByASyncReport) {
    desktop.sendKey({0x27, 0, 0, 0, 0});  // Right
    desktop.sendKey({0x27, 0, platform::KEYEVENTF_KEYUP, 0, 0});
    desktop.sendKey({'Q', 0, 0, 0, 0});
    desktop.sendKey({0xBA, 0, 0, 0, 0});  // ; on a US keyboard
    desktop.sendKey({240, 0, 0, 0, 0});   // a mode key: nothing to send
    const std::vector<Event> expected{
        {EV_KEY, KEY_RIGHT, 1}, kSync, {EV_KEY, KEY_RIGHT, 0},     kSync,
        {EV_KEY, KEY_Q, 1},     kSync, {EV_KEY, KEY_SEMICOLON, 1}, kSync};
    EXPECT_EQ(keyboard, expected);
    EXPECT_TRUE(pointer.empty());
}

TEST_F(Evdev, PointerMovesAreAbsoluteButtonsAndWheelNotchesFollow) {
    EXPECT_EQ(desktop.cursorPos().x, 960);  // no device tells: the centre first
    EXPECT_EQ(desktop.cursorPos().y, 540);
    const uint32_t abs = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE;
    desktop.sendMouse({65535, 0, 0, abs, 0, 0});
    EXPECT_EQ(desktop.cursorPos().x, 1919);
    EXPECT_EQ(desktop.cursorPos().y, 0);
    desktop.sendMouse({70000, -5, 0, abs, 0, 0});  // off the axes: kept on them
    desktop.sendMouse({0, 0, 0, platform::MOUSEEVENTF_LEFTDOWN, 0, 0});
    desktop.sendMouse(
        {0, 0, 0, platform::MOUSEEVENTF_LEFTUP | platform::MOUSEEVENTF_RIGHTDOWN, 0, 0});
    desktop.sendMouse({0, 0, 2 * platform::WHEEL_DELTA, platform::MOUSEEVENTF_WHEEL, 0, 0});
    desktop.sendMouse({0, 0, -platform::WHEEL_DELTA, platform::MOUSEEVENTF_WHEEL, 0, 0});
    const std::vector<Event> expected{{EV_ABS, ABS_X, 65535},
                                      {EV_ABS, ABS_Y, 0},
                                      kSync,
                                      {EV_ABS, ABS_X, 65535},
                                      {EV_ABS, ABS_Y, 0},
                                      kSync,
                                      {EV_KEY, BTN_LEFT, 1},
                                      kSync,
                                      {EV_KEY, BTN_LEFT, 0},
                                      kSync,
                                      {EV_KEY, BTN_RIGHT, 1},
                                      kSync,
                                      {EV_REL, REL_WHEEL, 2},
                                      kSync,
                                      {EV_REL, REL_WHEEL, -1},
                                      kSync};
    EXPECT_EQ(pointer, expected);
    EXPECT_TRUE(keyboard.empty());
}

TEST(Uinput, SaysWhyTheDevicesCannotBeMade) {
    std::string error;
    EXPECT_FALSE(platform::openUinputDesktop({1920, 1080}, error, "/nonexistent/uinput"));
    EXPECT_EQ(error, "/nonexistent/uinput: No such file or directory");
}

TEST(Uinput, MakesAKeyboardAndAPointerWhereDevUinputOpens) {
    if (access(platform::kUinputPath, W_OK) != 0) {
        GTEST_SKIP() << platform::kUinputPath
                     << " is absent or not writable here: the live devices are not tried";
    }
    std::string error;
    auto desktop = platform::openUinputDesktop({1920, 1080}, error);
    ASSERT_TRUE(desktop) << error;
    // Keys the desktop could receive: a mode key, which sends nothing.
    desktop->sendKey({240, 0, 0, 0, 0});
    desktop->sendMouse(
        {32768, 32768, 0, platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE, 0, 0});
    EXPECT_EQ(desktop->cursorPos().x, 960);
}
