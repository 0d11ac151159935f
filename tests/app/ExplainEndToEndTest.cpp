// "-explain" in the real program on the virtual sensor: the why: lines of a
// swipe that rests at its turn, the same log without them, and the tuning
// view in the window's picture.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ProgramOnX.h"
#include "tests/support/TempFile.h"

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
// grey depth picture and the green overlay never are) a snapshot holds.
int barPixels(const std::string& ppm) {
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int max = 0;
    in >> magic >> width >> height >> max;
    in.get();
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    int count = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        if (rgb[i + 2] > 150 && rgb[i + 2] > rgb[i] + 80) ++count;
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
    EXPECT_GT(barPixels(snapshot.path()), 400) << "two bars";
    // Frame 5: no hand yet.
    run("swipe_right.scene", "5", {"-explain", "-snapshot", snapshot.path()});
    EXPECT_EQ(barPixels(snapshot.path()), 0);
    run("swipe_right.scene", "130", {"-snapshot", snapshot.path()});
    EXPECT_EQ(barPixels(snapshot.path()), 0);
}
