// The real program on the virtual sensor, under a private X server: scenes go
// in, key events come out at a real X client.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramOnX.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

namespace {

std::string scene(const std::string& name) {
    return sourceDir() + "/tests/app/scenes/" + name;
}

using Viewer = ProgramOnX;

// The lines of the log that record key and mouse events.
std::vector<std::string> eventLines(const std::string& log) {
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = log.find(">>> ", at)) != std::string::npos) {
        const size_t end = log.find_first_of("\t\n", at);
        lines.push_back(log.substr(at, end - at));
        at = end;
    }
    return lines;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const {
        return &rgb[(static_cast<size_t>(y) * width + x) * 3];
    }
    bool green(int x, int y) const {
        const unsigned char* p = at(x, y);
        return p[1] > 200 && p[0] < 60 && p[2] < 60;
    }
};

Picture readPpm(const std::string& path) {
    Picture p;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int max = 0;
    in >> magic >> p.width >> p.height >> max;
    in.get();
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    in.read(reinterpret_cast<char*>(p.rgb.data()), static_cast<std::streamsize>(p.rgb.size()));
    return p;
}

}  // namespace

TEST_F(Viewer, ASwipeRightReachesTheFocusedClientAsTheRightKey) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    auto tolvane =
        start({"-device", scene("swipe_right.scene"), "-config", config.path(), "-frames", "240"});
    EXPECT_EQ(tolvane->wait(60000), 0) << tolvane->output();
    const std::vector<std::string> events = eventLines(tolvane->output());
    ASSERT_EQ(events.size(), 2u) << tolvane->output();
    EXPECT_EQ(events[0], ">>> key : RIGHT - down");
    EXPECT_EQ(events[1], ">>> key : RIGHT - release");
    const auto received = client->waitFor(2, 3000);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].type, XClientEvent::Type::KeyDown);
    EXPECT_EQ(received[0].keysym, static_cast<unsigned long>(XK_Right));
    EXPECT_EQ(received[1].type, XClientEvent::Type::KeyUp);
    EXPECT_NE(tolvane->output().find("\nrelease keys & mouse...\n"), std::string::npos);
}

TEST_F(Viewer, TheWindowShowsTheDepthPictureTheHandAndTheSight) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n");
    TempFile snapshot("", ".ppm");
    // Frame 120: the hand has been held still in front of the chest for a while.
    auto tolvane = start({"-device", scene("swipe_right.scene"), "-config", config.path(),
                          "-dry-run", "-frames", "130", "-snapshot", snapshot.path()});
    ASSERT_EQ(tolvane->wait(60000), 0) << tolvane->output();
    const Picture p = readPpm(snapshot.path());
    ASSERT_EQ(p.width, 720);
    ASSERT_EQ(p.height, 480);
    // The body, nearer than the wall, is light grey; the wall behind darker.
    const unsigned char* chest = p.at(360, 200);
    EXPECT_EQ(chest[0], chest[1]);
    EXPECT_EQ(chest[1], chest[2]);
    EXPECT_GT(chest[0], 150);
    // The hand holds still: the disc and the sight share one centre, which
    // is the middle of all green pixels.
    long sumX = 0;
    long sumY = 0;
    long count = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (p.green(x, y)) {
                sumX += x;
                sumY += y;
                ++count;
            }
        }
    }
    ASSERT_GT(count, 100) << "no overlay drawn";
    const int cx = static_cast<int>(sumX / count);
    const int cy = static_cast<int>(sumY / count);
    // Right of the body's middle and above its waist: where the raised hand is.
    EXPECT_GT(cx, 370);
    EXPECT_LT(cx, 520);
    EXPECT_GT(cy, 80);
    EXPECT_LT(cy, 260);
    const auto near = [&](int x, int y) {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                if (p.green(x + dx, y + dy)) return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(p.green(cx, cy)) << "disc";
    EXPECT_TRUE(near(cx - 22, cy + 10) && near(cx + 22, cy + 10)) << "box sides";
    EXPECT_TRUE(near(cx - 12, cy - 22) && near(cx + 12, cy + 22)) << "box top and bottom";
    EXPECT_TRUE(near(cx, cy - 40) && near(cx + 40, cy)) << "ticks";
    EXPECT_FALSE(p.green(cx + 12, cy + 12)) << "inside the box, outside the disc";
}

TEST_F(Viewer, WithoutASensorTheOpenFailsWithOpenNIsText) {
    for (const std::string& uri :
         {std::string("/nonexistent/none.scene"), std::string("nothing")}) {
        auto tolvane = start({"-device", uri, "-config", sourceDir() + "/gesture_event.txt"});
        EXPECT_EQ(tolvane->wait(30000), 1);
        EXPECT_NE(tolvane->output().find("Open Device failed:\n"), std::string::npos)
            << tolvane->output();
        EXPECT_EQ(tolvane->output().find("Open configuration file"), std::string::npos);
    }
}

TEST_F(Viewer, EscapeReleasesAHeldKeyAndExitsWith1) {
    TempFile config("HAND_PUSH 10 KEY_HOLD a 0 0\n");
    auto tolvane = start({"-device", scene("guard.scene"), "-config", config.path()});
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - down", 30000)) << tolvane->output();
    EXPECT_TRUE(client->keyIsDown(XK_a));
    ASSERT_TRUE(client->typeInto("Tolvane", XK_Escape));
    EXPECT_EQ(tolvane->wait(20000), 1) << tolvane->output();
    EXPECT_FALSE(client->keyIsDown(XK_a));
    EXPECT_NE(tolvane->output().find("release keys & mouse..."), std::string::npos);
}

TEST_F(Viewer, SigtermReleasesAHeldKeyToo) {
    TempFile config("HAND_PUSH 10 KEY_HOLD a 0 0\n");
    auto tolvane = start({"-device", scene("guard.scene"), "-config", config.path()});
    ASSERT_TRUE(tolvane->waitForOutput(">>> key : A - down", 30000)) << tolvane->output();
    EXPECT_TRUE(client->keyIsDown(XK_a));
    tolvane->signal(SIGTERM);
    EXPECT_EQ(tolvane->wait(20000), 1) << tolvane->output();
    EXPECT_FALSE(client->keyIsDown(XK_a));
}

TEST_F(Viewer, ARecordingReplaysToTheSameEvents) {
    TempFile config("HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\nHAND_LEFT 10 KEY_CLICK VK_LEFT 0 0\n");
    TempFile recording("", ".oni");
    const ProgramResult rec =
        runCommand(shellQuote(buildDir() + "/tolvane-record") + " -device " +
                   shellQuote(scene("swipe_right.scene")) + " " + shellQuote(recording.path()));
    ASSERT_EQ(rec.exitCode, 0) << rec.out;
    auto live = start({"-device", scene("swipe_right.scene"), "-config", config.path(), "-dry-run",
                       "-frames", "235"});
    ASSERT_EQ(live->wait(60000), 0);
    auto replay = start(
        {"-device", recording.path(), "-config", config.path(), "-dry-run", "-frames", "235"});
    ASSERT_EQ(replay->wait(60000), 0) << replay->output();
    EXPECT_EQ(eventLines(replay->output()), eventLines(live->output()));
    EXPECT_EQ(eventLines(live->output()).size(), 2u);
}
