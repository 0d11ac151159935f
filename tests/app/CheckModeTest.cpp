// The real binary's "-check": what it prints and how it exits.
#include <gtest/gtest.h>

#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"

namespace {
// No display: the screen falls back to 1920 x 1080.
const std::string kNoDisplay = "env -u DISPLAY";
}  // namespace

TEST(CheckMode, TheDefaultConfigurationLoads) {
    const ProgramResult r =
        runTolvane({"-check", "-config", sourceDir() + "/gesture_event.txt"}, kNoDisplay);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Usage: Tolvane.exe [-config filename]\n\nOpen configuration file : ", 0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("[Gesture   Threshod   Mode   Key   Key_Rel   Param]"), std::string::npos);
    EXPECT_NE(r.out.find(" HAND_RIGHT\t 10\t KEY_CLICK\t VK_RIGHT\t 0\t 0.0\n"), std::string::npos);
    EXPECT_NE(r.out.find("Sensor resolution: (320, 240), Screen resulotion: (1920, 1080)\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("error"), std::string::npos);
}

TEST(CheckMode, ABadFileFailsWithItsMessagesAndTheLineThatCausedIt) {
    TempFile config("HAND_LEFT 10 KEY_CLICK VK_LEFT 0 0\nHAND_RIGHT 10 KEY_CLICK VK_RIHGT 0 0\n");
    const ProgramResult r = runTolvane({"-check", "-config", config.path()}, kNoDisplay);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const size_t error = r.out.find("configuration file format : error\n HAND_RIGHT");
    EXPECT_NE(error, std::string::npos) << r.out;
    const size_t where = r.out.find(config.path() + ":2: not a key 'VK_RIHGT'");
    EXPECT_NE(where, std::string::npos) << r.out;
    EXPECT_GT(where, r.out.find("Screen resulotion"));  // after the normal log
}

TEST(CheckMode, AMissingFileFails) {
    const ProgramResult r = runTolvane({"-check", "-config", "/nonexistent/g.txt"}, kNoDisplay);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("/nonexistent/g.txt file not found\n"), std::string::npos);
}

TEST(CheckMode, AnOverlongConfigPathIsRefused) {
    const ProgramResult r = runTolvane({"-check", "-config", std::string(1200, 'a')}, kNoDisplay);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("longer than 999"), std::string::npos);
    EXPECT_EQ(r.out.find("Open configuration file"), std::string::npos);
}

TEST(CheckMode, WithoutADisplayTheProgramSaysSoAndExits1) {
    const ProgramResult r =
        runTolvane({"-config", sourceDir() + "/gesture_event.txt"}, "env DISPLAY=:986");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cannot open X display"), std::string::npos) << r.out;
}

TEST(CheckMode, HelpListsEveryOption) {
    const ProgramResult r = runTolvane({"-help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"-config", "-device", "-check", "-dry-run", "-frames", "-help"}) {
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
}
