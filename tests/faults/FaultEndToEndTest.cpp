// The real program against a misbehaving sensor and a vanishing X server:
// frames that stop for a while, spoilt frames, a sensor that disappears while
// a key is held, and the X server going away in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "feedback/Feedback.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramOnX.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kFailed = "GetNextData failed";

std::string scene(const std::string& name) {
    return sourceDir() + "/tests/faults/scenes/" + name;
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// CPU seconds (user and system) a process has used so far, from /proc.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Faults : public ProgramOnX {
  protected:
    Faults() : ProgramOnX(false) {}

    // Reads the child's output until it holds `n` times `text`; the time it took.
    static double waitForCount(ChildProcess& child, const std::string& text, size_t n,
                               int timeoutMs) {
        const auto t0 = Clock::now();
        while (count(child.output(), text) < n) {
            if (secondsSince(t0) * 1000 > timeoutMs) return -1;
            child.waitForOutput("\x01", 20);  // reads what there is
        }
        return secondsSince(t0);
    }
};

TEST_F(Faults, FramesThatStopTimeOutOnceASecondWithoutBusyLoopAndTrackingGoesOn) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    auto tolvane = start({"-device", scene("stall.scene"), "-config", config.path(), "-dry-run"});
    // The stall: 2.5 s without frames.
    ASSERT_GE(waitForCount(*tolvane, kFailed, 1, 60000), 0) << tolvane->output();
    const double cpu0 = cpuSeconds(tolvane->pid());
    const double gap = waitForCount(*tolvane, kFailed, 2, 3000);
    const double cpu = cpuSeconds(tolvane->pid()) - cpu0;
    ASSERT_GE(gap, 0) << tolvane->output();
    EXPECT_GT(gap, 0.8) << "one message per read timeout of about a second";
    EXPECT_LT(cpu, 0.25 * gap) << "the program should sleep while it waits for frames";
    // Frames come back and the tracked hand's swipe is seen.
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : RIGHT - release", 60000)) << tolvane->output();
    const std::string before = tolvane->output().substr(0, tolvane->output().find(">>> key"));
    EXPECT_GE(count(before, kFailed), 2u);
    EXPECT_LE(count(before, kFailed), 3u) << before;
    tolvane->signal(SIGTERM);
    EXPECT_EQ(tolvane->wait(20000), 1) << tolvane->output();
}

TEST_F(Faults, EmptyZeroOutOfRangeAndWronglySizedFramesAreSurvivedAndGesturesStillWork) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    auto tolvane = start({"-device", scene("bad-frames.scene"), "-config", config.path(),
                          "-dry-run", "-frames", "240"});
    EXPECT_EQ(tolvane->wait(120000), 0) << tolvane->output();
    EXPECT_EQ(count(tolvane->output(), ">>> key : RIGHT - down"), 1u) << tolvane->output();
    EXPECT_EQ(count(tolvane->output(), ">>> key : RIGHT - release"), 1u);
    // Frames the tracker cannot use are skipped one by one (the scene spoils
    // 38 frames); no read waits for a timeout.
    EXPECT_LE(count(tolvane->output(), kFailed), 38u) << tolvane->output();
}

TEST_F(Faults, AVanishingSensorLetsGoOfAHeldKeyAndTheProgramWaitsQuietlyUntilStopped) {
    TempFile config("FEEDBACK_WINDOW WINDOW4\nHAND_PUSH 10 KEY_HOLD a 0 0\n");
    auto tolvane = start({"-device", scene("vanish.scene"), "-config", config.path(), "-dry-run"});
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - down", 60000)) << tolvane->output();
    // The sensor is gone while the key is held: after three reads that time
    // out (about three seconds) the program lets go of it.
    ASSERT_GE(waitForCount(*tolvane, kFailed, 1, 10000), 0) << tolvane->output();
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - release", 6000)) << tolvane->output();
    EXPECT_GE(count(tolvane->output().substr(0, tolvane->output().find(">>> key : A - release")),
                    kFailed),
              3u);
    EXPECT_LT(tolvane->output().find(kFailed), tolvane->output().find(">>> key : A - release"));
    // It keeps running, asleep between read timeouts.
    const double cpu0 = cpuSeconds(tolvane->pid());
    const double gap = waitForCount(*tolvane, kFailed, 5, 5000);
    const double cpu = cpuSeconds(tolvane->pid()) - cpu0;
    ASSERT_GT(gap, 1.5) << tolvane->output();
    EXPECT_LT(cpu, 0.25 * gap);
    EXPECT_EQ(count(tolvane->output(), ">>> key : A - down"), 1u);
    // The picture window no longer shows the hand that is gone.
    platform::PicturePixels noHand{};
    ASSERT_TRUE(feedback::loadPicture(0, noHand));
    const std::vector<uint32_t> shown = windowPixels(server.display(), "Tolvane (Info Window)");
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), noHand.begin(), noHand.end()))
        << "the picture window shows something else than the no-hand picture (" << shown.size()
        << " pixels read)";
    tolvane->signal(SIGTERM);
    EXPECT_EQ(tolvane->wait(20000), 1) << tolvane->output();
    EXPECT_NE(tolvane->output().find("release keys & mouse..."), std::string::npos);
}

TEST(XServerLoss, TheProgramEndsWithAClearMessageAndCode1) {
    // A private X server of this test's own, to be killed under the program.
    ChildProcess xvfb(
        {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
        {});
    // It writes its display number on a line of its own (among its messages).
    std::string number;
    const auto t0 = Clock::now();
    while (xvfb.started() && number.empty() && secondsSince(t0) < 10) {
        xvfb.waitForOutput("\x01", 50);
        std::istringstream lines(xvfb.output());
        for (std::string l; std::getline(lines, l) && !lines.eof();) {
            if (!l.empty() && l.find_first_not_of("0123456789") == std::string::npos) number = l;
        }
    }
    if (number.empty()) GTEST_SKIP() << "no Xvfb: " << xvfb.output();
    const std::string display = ":" + number;
    ChildProcess tolvane({buildDir() + "/tolvane", "-device", scene("loop.scene"), "-config",
                          sourceDir() + "/gesture_event.txt"},
                         {"DISPLAY=" + display});
    ASSERT_TRUE(tolvane.waitForOutput("Sensor resolution", 30000)) << tolvane.output();
    // Running: frames are drawn for a moment.
    tolvane.waitForOutput("\x01", 1000);
    xvfb.signal(SIGTERM);
    const auto killed = Clock::now();
    const int code = tolvane.wait(10000);
    EXPECT_EQ(code, 1) << tolvane.output();
    EXPECT_LT(secondsSince(killed), 5.0);
    EXPECT_NE(tolvane.output().find("tolvane: lost the connection to the X server"),
              std::string::npos)
        << tolvane.output();
}

}  // namespace
