// However the program ends, nothing it pressed stays down: killed outright or
// crashed, its guard process releases what it held.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

class Guard : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!server.ok()) GTEST_SKIP() << server.error();
        client = std::make_unique<XClient>(server.display());
        ASSERT_TRUE(client->ok());
    }

    // Polls until `holds` is true or two seconds have passed.
    template <typename F>
    bool eventually(F holds) {
        for (int i = 0; i < 200; ++i) {
            if (holds()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    XvfbServer server{1280, 1024};
    std::unique_ptr<XClient> client;
};

}  // namespace

TEST_P(Guard, ReleasesTheHeldKeyAndButtonWhenTheProgramDies) {
    TempFile config(
        "HAND_LEFT 10 MOUSE_TOGGLE M_LBUTTON 0 0\n"
        "HAND_PUSH 10 KEY_HOLD a 0 0\n");
    ChildProcess tolvane({buildDir() + "/tolvane", "-device",
                          sourceDir() + "/tests/app/scenes/guard.scene", "-config", config.path()},
                         {"DISPLAY=" + server.display()});
    ASSERT_TRUE(tolvane.waitForOutput(">>> mouse : L_BUTTON - down", 30000)) << tolvane.output();
    ASSERT_TRUE(tolvane.waitForOutput(">>> key : A - down", 30000)) << tolvane.output();
    EXPECT_TRUE(eventually([&] { return client->keyIsDown(XK_a); })) << tolvane.output();
    EXPECT_TRUE(eventually([&] { return client->buttonIsDown(); })) << tolvane.output();
    EXPECT_FALSE(client->autoRepeat(XK_a));

    tolvane.signal(GetParam());
    // (A sanitizer build reports the SIGSEGV itself and exits with its own code.)
    const int code = tolvane.wait(10000);
    EXPECT_NE(code, -1) << "did not end";
    EXPECT_NE(code, 0);
    EXPECT_TRUE(eventually([&] { return !client->keyIsDown(XK_a); })) << "key still down";
    EXPECT_TRUE(eventually([&] { return !client->buttonIsDown(); })) << "button still down";
    EXPECT_TRUE(client->autoRepeat(XK_a));
    // The program itself printed no release: the guard did it.
    EXPECT_EQ(tolvane.output().find("release keys & mouse"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, Guard, ::testing::Values(SIGKILL, SIGSEGV),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGKILL ? std::string("Kill")
                                                          : std::string("Segv");
                         });
