// Living with the program: pausing, reloading a changed configuration, and
// finding the configuration file.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramOnX.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

using Everyday = ProgramOnX;

void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST_F(Everyday, PauseReleasesWhatIsHeldAndTheSameKeyResumes) {
    TempFile config("HAND_PUSH 10 KEY_HOLD a 0 0\n");
    auto tolvane =
        start({"-device", sourceDir() + "/tests/app/scenes/guard.scene", "-config", config.path()});
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - down", 30000)) << tolvane->output();
    ASSERT_TRUE(client->typeInto("Tolvane", XK_p));
    ASSERT_TRUE(tolvane->waitForOutput("Paused: everything released", 5000)) << tolvane->output();
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - release", 5000)) << tolvane->output();
    EXPECT_FALSE(client->keyIsDown(XK_a));
    ASSERT_TRUE(client->typeInto("Tolvane", XK_p));
    EXPECT_TRUE(tolvane->waitForOutput("Resumed", 5000));
    ASSERT_TRUE(client->typeInto("Tolvane", XK_Escape));
    EXPECT_EQ(tolvane->wait(20000), 1);
}

TEST_F(Everyday, WatchLoadsAChangedFileAndRefusesABadOne) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    auto tolvane = start({"-device", sourceDir() + "/tests/app/scenes/hold_push.scene", "-config",
                          config.path(), "-dry-run", "-watch"});
    ASSERT_TRUE(tolvane->waitForOutput("Screen resulotion", 20000)) << tolvane->output();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    write(config.path(), "HAND_RIGHT 10 KEY_CLICK VK_RIHGT 0 0\n");
    ASSERT_TRUE(tolvane->waitForOutput("keeping the previous one", 10000)) << tolvane->output();
    EXPECT_NE(tolvane->output().find(":1: not a key 'VK_RIHGT'"), std::string::npos);
    write(config.path(), "HAND_LEFT 10 KEY_CLICK VK_LEFT 0 0\n");
    ASSERT_TRUE(tolvane->waitForOutput(" HAND_LEFT\t 10\t KEY_CLICK\t VK_LEFT\t 0\t 0.0\n", 10000))
        << tolvane->output();
    EXPECT_EQ(occurrences(tolvane->output(), "Configuration file changed"), 2u);
    EXPECT_EQ(occurrences(tolvane->output(), "keeping the previous one"), 1u);
    tolvane->signal(SIGTERM);
    EXPECT_EQ(tolvane->wait(20000), 1);
}

TEST(ConfigurationSearch, WorkingDirectoryThenUserFolder) {
    char dir[] = "/tmp/tolvane-cwd-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string home = std::string(dir) + "/config";
    mkdir(home.c_str(), 0700);
    mkdir((home + "/tolvane").c_str(), 0700);
    write(home + "/tolvane/gesture_event.txt", "HAND_UP 10 KEY_CLICK VK_UP 0 0\n");
    const std::string run = "cd " + shellQuote(dir) +
                            " && env -u DISPLAY XDG_CONFIG_HOME=" + shellQuote(home) + " " +
                            shellQuote(buildDir() + "/tolvane") + " -check";
    ProgramResult r = runCommand(run);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Open configuration file : " + home + "/tolvane/gesture_event.txt\n"),
              std::string::npos)
        << r.out;
    // One in the working directory comes first.
    write(std::string(dir) + "/gesture_event.txt", "HAND_DOWN 10 KEY_CLICK VK_DOWN 0 0\n");
    r = runCommand(run);
    EXPECT_NE(r.out.find("Open configuration file : gesture_event.txt\n"), std::string::npos);
    // And -config always wins.
    r = runCommand(run + " -config " + shellQuote(home + "/tolvane/gesture_event.txt"));
    EXPECT_NE(r.out.find(" HAND_UP\t"), std::string::npos);
    std::remove((std::string(dir) + "/gesture_event.txt").c_str());
    std::remove((home + "/tolvane/gesture_event.txt").c_str());
    rmdir((home + "/tolvane").c_str());
    rmdir(home.c_str());
    rmdir(dir);
}
