// "-explain" in the real program on the virtual sensor: the why: lines of a
// swipe that rests at its turn, the same log without them, and the tuning
// view in the window's picture.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ProgramOnX.h"
#include "tests/support/TempFile.h"
#include "tests/support/XClient.h"

namespace {

class Explain : public ProgramOnX {
  protected:
    Explain() : ProgramOnX(false) {}

    // Runs a scene of tests/app/scenes for `frames` frames; the log.
    std::string run(const std::string& sceneName, const std::string& frames,
                    std::vector<std::string> extra) {
        std::vector<std::string> args{"-device",  sourceDir() + "/tests/app/scenes/" + sceneName,
                                      "-config",  config.path(),
                                      "-dry-run", "-frames",
                                      frames};
        args.insert(args.end(), extra.begin(), extra.end());
        auto tolvane = start(args);
        EXPECT_EQ(tolvane->wait(60000), 0) << tolvane->output();
        return tolvane->output();
    }

    TempFile config{"HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\nHAND_LEFT 10 KEY_CLICK VK_LEFT 0 0\n"};
};

// How many pixels of the tuning view's bar outlines (light blue, which the
// grey depth picture and the green overlay never are) a snapshot holds, and
// how many of its text's (white on the panel's near black) in the panel's
// first row.
struct ViewPixels {
    int bar = 0;
    int text = 0;
};
ViewPixels viewPixels(const std::string& ppm) {
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int max = 0;
    in >> magic >> width >> height >> max;
    in.get();
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    ViewPixels count;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        if (rgb[i + 2] > 150 && rgb[i + 2] > rgb[i] + 80) ++count.bar;
        const size_t x = (i / 3) % static_cast<size_t>(width);
        const size_t y = (i / 3) / static_cast<size_t>(width);
        if (x < 300 && y >= 10 && y < 26 && rgb[i] == 255 && rgb[i + 1] == 255 && rgb[i + 2] == 255)
            ++count.text;
    }
    return count;
}

}  // namespace

TEST_F(Explain, ARestAtTheTurnIsExplainedAndTheLogIsOtherwiseTheSame) {
    const std::string plain = run("swipe_rest.scene", "240", {});
    const std::string explained = run("swipe_rest.scene", "240", {"-explain"});
    EXPECT_NE(explained.find("why: HAND_RIGHT reached "), std::string::npos) << explained;
    EXPECT_NE(explained.find(" of 10 cm, dropped: the hand rested "), std::string::npos);
    EXPECT_EQ(plain.find("why:"), std::string::npos) << plain;

    std::istringstream lines(explained);
    std::string withoutWhy;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("why: ", 0) != 0) withoutWhy += line + "\n";
    }
    EXPECT_EQ(withoutWhy, plain);
}

TEST_F(Explain, TheTuningViewDrawsBarsWhileAHandIsSeenAndNothingWhenOff) {
    TempFile snapshot("", ".ppm");
    // Frame 130: the hand holds still in front of the chest.
    run("swipe_right.scene", "130", {"-explain", "-snapshot", snapshot.path()});
    EXPECT_GT(viewPixels(snapshot.path()).bar, 400) << "two bars";
    EXPECT_GT(viewPixels(snapshot.path()).text, 100) << "hold: holding still";
    // Frame 5: no hand yet.
    run("swipe_right.scene", "5", {"-explain", "-snapshot", snapshot.path()});
    EXPECT_EQ(viewPixels(snapshot.path()).bar, 0);
    run("swipe_right.scene", "130", {"-snapshot", snapshot.path()});
    EXPECT_EQ(viewPixels(snapshot.path()).bar, 0);
}

TEST_F(Explain, TheTKeyTurnsTheTuningViewOnAndOff) {
    XClient keys(server.display());
    ASSERT_TRUE(keys.ok());
    auto tolvane = start({"-device", sourceDir() + "/tests/app/scenes/hold_push.scene", "-config",
                          config.path(), "-dry-run"});
    ASSERT_TRUE(tolvane->waitForOutput("Screen resulotion", 20000)) << tolvane->output();
    // The panel's near black with a touch of blue, which neither the grey
    // depth picture nor the green overlay is.
    const auto panelShown = [&](bool on) {
        for (int tries = 0; tries < 200; ++tries) {
            int panel = 0;
            const std::vector<uint32_t> shown = windowPixels(server.display(), "Tolvane");
            for (uint32_t p : shown) {
                const uint32_t r = p >> 16 & 0xff, g = p >> 8 & 0xff, b = p & 0xff;
                if (r < 30 && g < 30 && b > r + 4) ++panel;
            }
            if (!shown.empty() && (panel > 2000) == on) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    EXPECT_TRUE(panelShown(false));
    ASSERT_TRUE(keys.typeInto("Tolvane", XK_t));
    EXPECT_TRUE(panelShown(true));
    ASSERT_TRUE(keys.typeInto("Tolvane", XK_t));
    EXPECT_TRUE(panelShown(false));
    ASSERT_TRUE(keys.typeInto("Tolvane", XK_Escape));
    EXPECT_EQ(tolvane->wait(20000), 1);
}
