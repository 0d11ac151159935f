// End to end: events sent through the Wayland backend reach a native Wayland
// client (wev) under a private headless sway; its keymap against the key table.
#include "platform/WaylandDesktop.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "platform/EvdevKeys.h"
#include "platform/X11Desktop.h"

#include "tests/support/SwaySession.h"

namespace {

using Type = WevClient::Event::Type;

class Wayland : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!session.ok()) GTEST_SKIP() << session.error();
        wev = std::make_unique<WevClient>(session);
        if (!wev->ok()) GTEST_SKIP() << "wev (Debian package wev) is not there or did not map";
        std::string error;
        desktop = platform::WaylandDesktop::open(session.socket().c_str(), error, false);
        ASSERT_TRUE(desktop) << error;
        // The client binds the new keyboard, then gets the focus.
        wev->events("wl_keyboard] enter", 10000);
    }

    void key(uint16_t vk, bool down) {
        desktop->sendKey({vk, 0, down ? 0u : platform::KEYEVENTF_KEYUP, 0, 0});
    }
    static int32_t normalised(int pixel, int size) { return (pixel * 65535 + size / 2) / size; }

    SwaySession session{1600, 900};
    std::unique_ptr<WevClient> wev;
    std::unique_ptr<platform::WaylandDesktop> desktop;
};

std::vector<WevClient::Event> only(const std::vector<WevClient::Event>& events, Type type) {
    std::vector<WevClient::Event> kept;
    for (const auto& e : events) {
        if (e.type == type) kept.push_back(e);
    }
    return kept;
}

}  // namespace

TEST(WaylandDesktop, RefusesToOpenWithoutACompositor) {
    std::string error;
    EXPECT_FALSE(platform::WaylandDesktop::open("/nonexistent/wayland-7", error));
    EXPECT_NE(error.find("cannot connect to the Wayland compositor \"/nonexistent/wayland-7\""),
              std::string::npos)
        << error;
}

// The keymap the backend uploads and the positions it sends must agree with
// the key table: each character comes out of the key
// and shift state usKeyScan gives for it, and each named key is where X11
// finds its keysym.
TEST(WaylandDesktop, ItsKeymapTypesWhatTheKeyTableSays) {
    const std::string source = platform::waylandKeymap();
    if (source.empty())
        GTEST_SKIP() << "xkbcommon finds no US keymap here (Debian package xkb-data)";
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_string(context.get(), source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                   XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    ASSERT_TRUE(keymap) << source;
    // The one keysym of a key at a shift level, or 0.
    const auto symOf = [&](uint16_t code, int level) -> xkb_keysym_t {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(
            keymap.get(), code + 8u, 0, static_cast<xkb_level_index_t>(level), &syms);
        return n == 1 ? syms[0] : 0;
    };
    for (int c = 1; c < 128; ++c) {
        const int16_t scan = platform::usKeyScan(static_cast<char>(c));
        if (scan < 0) continue;
        const uint16_t code = platform::evdevKeyOf(scan & 0xFF);
        ASSERT_NE(code, 0) << c;
        EXPECT_EQ(xkb_keysym_to_utf32(symOf(code, (scan >> 8) & 1)), static_cast<uint32_t>(c))
            << "character " << c;
    }
    for (unsigned vk = 0; vk < 256; ++vk) {
        const unsigned long keysym = platform::X11Desktop::keysymOf(vk);
        if (keysym == 0) continue;
        const uint16_t code = platform::evdevKeyOf(vk);
        ASSERT_NE(code, 0) << "vk " << vk;
        bool found = false;
        for (int level = 0; level < 4; ++level) found = found || symOf(code, level) == keysym;
        EXPECT_TRUE(found) << "vk 0x" << std::hex << vk << ": keysym 0x" << keysym
                           << " not on evdev key " << std::dec << code;
    }
}

TEST_F(Wayland, KeysArriveOncePressedAndReleasedWithTheirModifiers) {
    EXPECT_EQ(desktop->compositor(), "sway");
    key(0x27, true);  // Right
    key(0x27, false);
    key('Q', true);
    key('Q', false);
    key(0x10, true);  // Shift + 1 types "!"
    key('1', true);
    key('1', false);
    key(0x10, false);
    const auto keys = only(wev->events("sym: Shift_L", 10000), Type::Key);
    ASSERT_EQ(keys.size(), 8u) << wev->output();
    const char* names[] = {"Right", "Right", "q", "q", "Shift_L", "exclam", "exclam", "Shift_L"};
    const bool pressed[] = {true, false, true, false, true, true, false, false};
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].name, names[i]) << i;
        EXPECT_EQ(keys[i].pressed, pressed[i]) << i;
    }
}

TEST_F(Wayland, MovesAreAbsoluteOverTheOutputAndButtonsAndTheWheelFollow) {
    EXPECT_EQ(desktop->screenSize().width, 1600);
    EXPECT_EQ(desktop->screenSize().height, 900);
    // Nothing can read the pointer: it starts at the centre, then follows.
    EXPECT_EQ(desktop->cursorPos().x, 800);
    EXPECT_EQ(desktop->cursorPos().y, 450);
    const uint32_t abs = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE;
    desktop->sendMouse({normalised(400, 1600), normalised(300, 900), 0, abs, 0, 0});
    desktop->sendMouse({normalised(1200, 1600), normalised(700, 900), 0, abs, 0, 0});
    EXPECT_EQ(desktop->cursorPos().x, 1200);
    EXPECT_EQ(desktop->cursorPos().y, 700);
    desktop->sendMouse({0, 0, 0, platform::MOUSEEVENTF_RIGHTDOWN, 0, 0});
    desktop->sendMouse({0, 0, 0, platform::MOUSEEVENTF_RIGHTUP, 0, 0});
    desktop->sendMouse({0, 0, platform::WHEEL_DELTA, platform::MOUSEEVENTF_WHEEL, 0, 0});
    const auto events = wev->events("] axis: ", 10000);
    // The window fills the output, so surface and screen coordinates agree.
    std::vector<WevClient::Event> positions;
    for (const auto& e : events) {
        if (e.type == Type::Motion || e.type == Type::Enter) positions.push_back(e);
    }
    ASSERT_GE(positions.size(), 2u) << wev->output();
    EXPECT_NEAR(positions[positions.size() - 2].x, 400, 1);
    EXPECT_NEAR(positions[positions.size() - 2].y, 300, 1);
    EXPECT_NEAR(positions.back().x, 1200, 1);
    EXPECT_NEAR(positions.back().y, 700, 1);
    const auto buttons = only(events, Type::Button);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].name, "right");
    EXPECT_TRUE(buttons[0].pressed);
    EXPECT_FALSE(buttons[1].pressed);
    // A notch away from the user scrolls up: negative on Wayland's axis.
    const auto wheel = only(events, Type::Axis);
    ASSERT_EQ(wheel.size(), 1u) << wev->output();
    EXPECT_LT(wheel[0].x, 0);
}

TEST_F(Wayland, MovesFromTheCursorWorkerAndKeysFromTheMainThreadDoNotMix) {
    const uint32_t abs = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) desktop->sendMouse({i * 300, 32768, 0, abs, 0, 0});
    });
    // The main thread reads the cursor while the worker moves it, as the
    // mouse emitter does.
    int32_t lastX = 0;
    for (int i = 0; i < 10; ++i) {
        key('Q', true);
        lastX = std::max(lastX, desktop->cursorPos().x);
        key('Q', false);
    }
    worker.join();
    EXPECT_LE(lastX, 1600);
    key(0x27, true);  // Right: it arrives after everything before it
    key(0x27, false);
    const auto keys = only(wev->events("sym: Right", 10000), Type::Key);
    ASSERT_EQ(keys.size(), 22u) << wev->output();
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(keys[i].name, "q");
        EXPECT_EQ(keys[i].pressed, i % 2 == 0);
    }
    EXPECT_EQ(desktop->cursorPos().x, platform::normalisedToPixel(199 * 300, 1600));
}
