// The real program under a headless sway: its windows through XWayland, its
// input through the Wayland backend to a native client (wev).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/RunProgram.h"
#include "tests/support/SwaySession.h"
#include "tests/support/TempFile.h"

namespace {

using Event = WevClient::Event;

class OnSway : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!session.ok()) GTEST_SKIP() << session.error();
        display = session.xDisplay();
        if (display.empty()) GTEST_SKIP() << "sway started no XWayland (Debian package xwayland)";
        wev = std::make_unique<WevClient>(session);
        if (!wev->ok()) GTEST_SKIP() << "wev (Debian package wev) is not there or did not map";
    }

    std::unique_ptr<ChildProcess> start(const std::string& scene, const TempFile& config,
                                        std::vector<std::string> more = {}) {
        session.share(config.path());
        std::vector<std::string> argv{buildDir() + "/tolvane",
                                      "-input",
                                      "wayland",
                                      "-device",
                                      sourceDir() + "/tests/app/scenes/" + scene,
                                      "-config",
                                      config.path()};
        argv.insert(argv.end(), more.begin(), more.end());
        return session.run(argv, {"DISPLAY=" + display});
    }

    // The received events of one type and name.
    std::vector<Event> received(Event::Type type, const std::string& name, const std::string& until,
                                int timeoutMs) {
        std::vector<Event> kept;
        for (const auto& e : wev->events(until, timeoutMs)) {
            if (e.type == type && e.name == name) kept.push_back(e);
        }
        return kept;
    }

    SwaySession session{1600, 900};
    std::string display;
    std::unique_ptr<WevClient> wev;
};

}  // namespace

TEST_F(OnSway, TheKeysOfAPlayedSceneReachTheNativeClientOnceEach) {
    TempFile config("FEEDBACK_WINDOW WINDOW_NONE\nHAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    // No -input: "auto" takes the Wayland backend under sway.
    auto tolvane = start("swipe_right.scene", config, {"-frames", "240"});
    EXPECT_EQ(tolvane->wait(120000), 0) << tolvane->output();
    EXPECT_NE(tolvane->output().find("\nInput: Wayland virtual keyboard and pointer (sway)\n"),
              std::string::npos)
        << tolvane->output();
    const auto keys = received(Event::Type::Key, "Right", "(released)", 5000);
    ASSERT_EQ(keys.size(), 2u) << wev->output();
    EXPECT_TRUE(keys[0].pressed);
    EXPECT_FALSE(keys[1].pressed);
}

TEST_F(OnSway, AKilledProgramLeavesNoKeyOrButtonDown) {
    TempFile config(
        "FEEDBACK_WINDOW WINDOW_NONE\n"
        "HAND_LEFT 10 MOUSE_TOGGLE M_LBUTTON 0 0\n"
        "HAND_PUSH 10 KEY_HOLD a 0 0\n");
    auto tolvane = start("guard.scene", config, {"-input", "wayland"});
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - down", 120000)) << tolvane->output();
    ASSERT_EQ(received(Event::Type::Key, "a", "sym: a", 10000).size(), 1u) << wev->output();
    ASSERT_EQ(received(Event::Type::Button, "left", "(left)", 10000).size(), 1u) << wev->output();

    tolvane->signal(SIGKILL);
    EXPECT_EQ(tolvane->wait(10000), 128 + SIGKILL);
    const auto keys = received(Event::Type::Key, "a", "key: 30; state: 0", 10000);
    ASSERT_EQ(keys.size(), 2u) << wev->output();
    EXPECT_FALSE(keys[1].pressed);
    const auto buttons = received(Event::Type::Button, "left", "state: 0 (released)", 10000);
    ASSERT_EQ(buttons.size(), 2u) << wev->output() << tolvane->output();
    EXPECT_FALSE(buttons[1].pressed);
}

TEST(InputOption, ANamedBackendThatCannotStartEndsTheProgramSayingWhy) {
    const std::string scene = sourceDir() + "/tests/app/scenes/swipe_right.scene";
    const ProgramResult wayland = runTolvane({"-input", "wayland", "-device", scene},
                                             "WAYLAND_DISPLAY=/nonexistent/wayland-3");
    EXPECT_EQ(wayland.exitCode, 1);
    EXPECT_NE(wayland.out.find("tolvane: cannot connect to the Wayland compositor "
                               "\"/nonexistent/wayland-3\": No such file or directory — see "
                               "README, Wayland\n"),
              std::string::npos)
        << wayland.out;
    if (access("/dev/uinput", F_OK) == 0) GTEST_SKIP() << "this machine has /dev/uinput";
    const ProgramResult uinput = runTolvane({"-input", "uinput", "-device", scene});
    EXPECT_EQ(uinput.exitCode, 1);
    EXPECT_NE(uinput.out.find("tolvane: /dev/uinput: No such file or directory — see README, "
                              "Wayland\n"),
              std::string::npos)
        << uinput.out;
}

TEST_F(OnSway, MouseModeMovesThePointerOverTheOutputAndClicksReachTheNativeClient) {
    std::ifstream example(sourceDir() + "/examples/mouse.txt");
    std::stringstream text;
    text << example.rdbuf() << "\nFEEDBACK_WINDOW WINDOW_NONE\n";
    TempFile config(text.str());
    // The scene has 534 frames.
    auto tolvane = start("../../../scenes/examples/mouse.scene", config,
                         {"-input", "wayland", "-frames", "530"});
    EXPECT_EQ(tolvane->wait(180000), 0) << tolvane->output();
    // The logged button events: ">>> mouse : L_BUTTON - down" and so on.
    const auto count = [&](const std::string& what) {
        size_t n = 0;
        const std::string& log = tolvane->output();
        for (size_t at = 0; (at = log.find(">>> mouse : ", at)) != std::string::npos; ++at) {
            const std::string event = log.substr(at, log.find_first_of("\t\n", at) - at);
            if (event.size() >= what.size() &&
                event.compare(event.size() - what.size(), what.size(), what) == 0)
                ++n;
        }
        return n;
    };
    const auto events = wev->events("", 0);
    size_t moves = 0, pressed = 0, released = 0;
    for (const auto& e : events) {
        if (e.type == Event::Type::Motion) {
            ++moves;
            EXPECT_TRUE(e.x >= 0 && e.x < 1600 && e.y >= 0 && e.y < 900) << e.x << "," << e.y;
        } else if (e.type == Event::Type::Button) {
            ++(e.pressed ? pressed : released);
        }
    }
    EXPECT_GT(moves, 10u) << wev->output();
    EXPECT_GT(pressed, 0u);
    EXPECT_EQ(pressed, count(" - down"));
    EXPECT_EQ(released, count(" - release"));
}
