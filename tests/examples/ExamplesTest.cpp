// The example configurations in examples/: each loads, and each one's scene in
// scenes/examples/ played through the real program (virtual sensor, hand
// tracker, gestures, emitters; -dry-run under a private X server) gives the
// key and mouse events the example promises, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFile.h"
#include "tests/support/XvfbServer.h"

namespace {

namespace fs = std::filesystem;

std::string examplePath(const std::string& name) {
    return sourceDir() + "/examples/" + name + ".txt";
}

std::string scenePath(const std::string& name) {
    return sourceDir() + "/scenes/examples/" + name + ".scene";
}

// The frames to play of a scene: all but its last second, as scripts/demo
// plays them ("end SECONDS" at the sensor's "fps=").
int framesOf(const std::string& scene) {
    std::ifstream in(scene);
    std::string line;
    double seconds = 0.0;
    int fps = 30;
    while (std::getline(in, line)) {
        if (line.rfind("end ", 0) == 0) seconds = std::stod(line.substr(4));
        const size_t at = line.find("fps=");
        if (line.rfind("sensor ", 0) == 0 && at != std::string::npos) {
            fps = std::stoi(line.substr(at + 4));
        }
    }
    return static_cast<int>((seconds - 1.0) * fps);
}

// One ">>> key : NAME - down" or ">>> mouse : NAME - release" record of the log.
struct Event {
    std::string name;  // as logged: a key's name can be one control character
    bool down = false;
    size_t at = 0;  // where the record starts in the log
};

// The event records of a log, in order. Names are taken up to " - down" or
// " - release", so that one-character names such as " " or a tab survive.
std::vector<Event> eventsOf(const std::string& log) {
    std::vector<Event> events;
    size_t at = 0;
    while ((at = log.find(">>> ", at)) != std::string::npos) {
        const size_t colon = log.find(" : ", at);
        if (colon == std::string::npos) break;
        const size_t name = colon + 3;
        const size_t down = log.find(" - down", name);
        const size_t release = log.find(" - release", name);
        const size_t end = std::min(down, release);
        if (end == std::string::npos) break;
        events.push_back({log.substr(name, end - name), end == down, at});
        at = end;
    }
    return events;
}

// The events as words: a press directly followed by the release of the same
// name is one click, "NAME"; a lone press is "NAME+", a lone release "NAME-".
// Names of control characters and the space read as their codes, "<17>".
std::vector<std::string> wordsOf(const std::vector<Event>& events) {
    const auto readable = [](const std::string& name) {
        if (name.size() == 1 && static_cast<unsigned char>(name[0]) <= ' ') {
            return "<" + std::to_string(static_cast<unsigned char>(name[0])) + ">";
        }
        return name;
    };
    std::vector<std::string> words;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.down && i + 1 < events.size() && !events[i + 1].down &&
            events[i + 1].name == e.name) {
            words.push_back(readable(e.name));
            ++i;
        } else {
            words.push_back(readable(e.name) + (e.down ? "+" : "-"));
        }
    }
    return words;
}

// The words joined by blanks.
std::string summary(const std::vector<Event>& events) {
    std::string text;
    for (const std::string& w : wordsOf(events)) text += (text.empty() ? "" : " ") + w;
    return text;
}

// The same, with three or more equal words in a row written once as
// "WORD...", for events that repeat for as long as a gesture is held.
std::string repeats(const std::vector<Event>& events) {
    const std::vector<std::string> words = wordsOf(events);
    std::vector<std::string> shortened;
    for (size_t i = 0; i < words.size();) {
        size_t n = 1;
        while (i + n < words.size() && words[i + n] == words[i]) ++n;
        if (n >= 3) {
            shortened.push_back(words[i] + "...");
        } else {
            shortened.insert(shortened.end(), n, words[i]);
        }
        i += n;
    }
    std::string text;
    for (const std::string& w : shortened) text += (text.empty() ? "" : " ") + w;
    return text;
}

class Examples : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<XvfbServer>(1280, 1024); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        if (!server_->ok()) GTEST_SKIP() << server_->error();
    }

    // Plays the example's scene (for `frames` frames, or as scripts/demo
    // does); the whole log, standard error (the -dry-run input records)
    // included.
    static std::string play(const std::string& name, int frames = 0) {
        return playFiles(scenePath(name), examplePath(name),
                         frames != 0 ? frames : framesOf(scenePath(name)));
    }

    static std::string playFiles(const std::string& scene, const std::string& config, int frames) {
        ChildProcess tolvane({buildDir() + "/tolvane", "-device", scene, "-config", config,
                              "-dry-run", "-frames", std::to_string(frames)},
                             {"DISPLAY=" + server_->display()});
        const int code = tolvane.wait(180000);
        EXPECT_EQ(code, 0) << tolvane.output();
        return tolvane.output();
    }

    static std::unique_ptr<XvfbServer> server_;
};

std::unique_ptr<XvfbServer> Examples::server_;

}  // namespace

TEST(ExampleFiles, EveryExampleLoadsWithCheckAndHasAScene) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(sourceDir() + "/examples")) {
        if (entry.path().extension() != ".txt") continue;
        const std::string name = entry.path().stem().string();
        names.insert(name);
        const ProgramResult r = runTolvane({"-check", "-config", entry.path().string()});
        EXPECT_EQ(r.exitCode, 0) << name << ":\n" << r.out;
        EXPECT_EQ(r.out.find("error"), std::string::npos) << name << ":\n" << r.out;
        EXPECT_NE(r.out.find("Open configuration file : " + entry.path().string()),
                  std::string::npos)
            << r.out;
        EXPECT_TRUE(fs::exists(scenePath(name))) << name << " has no scene";
    }
    const std::set<std::string> expected{"browser", "game", "media", "mouse", "slides"};
    EXPECT_EQ(names, expected);
}

TEST_F(Examples, SlidesGoForwardBackBlankAndLeaveTheShow) {
    const std::string log = play("slides");
    EXPECT_EQ(summary(eventsOf(log)), "RIGHT RIGHT LEFT B B ESC") << log;
}

TEST_F(Examples, MediaPlaysSeeksGoesFullScreenAndRepeatsVolumeAndSeekWhileHeld) {
    const std::string log = play("media");
    // Space, Right, Left and f once each; then Up again and again while both
    // hands stay raised, and Right again and again while they stay tilted.
    EXPECT_EQ(repeats(eventsOf(log)), "<32> RIGHT LEFT F UP... RIGHT...") << log;
}

TEST_F(Examples, BrowserScrollsFollowsLinksAndChangesTabsWithKeyCombinations) {
    const std::string log = play("browser");
    // Page down (Space), next link (Tab), Enter; Ctrl+Tab as Ctrl and Tab
    // held together, Ctrl+Shift+Tab likewise; then the wheel turning while
    // both hands are low, Up while they are high.
    EXPECT_EQ(repeats(eventsOf(log)),
              "<32> <9> ENTER <17>+ <9>+ <17>- <9>- <17>+ <16>+ <9>+ <17>- <16>- <9>- "
              "WHEEL... UP...")
        << log;
    // The wheel turns down, one notch per click.
    EXPECT_NE(log.find("[input] mouse flags=0x800 data=-120"), std::string::npos);
}

TEST_F(Examples, GameHoldsEachArrowKeyWhileTheWheelIsTurnedOrPushed) {
    // A held key's press and release stand side by side in the log too.
    const std::string log = play("game");
    EXPECT_EQ(summary(eventsOf(log)), "ENTER UP DOWN RIGHT LEFT") << log;

    // Stopped while the wheel is turned right: Right is held then, and the
    // end of the run lets go of it.
    const std::string held = play("game", 510);
    EXPECT_EQ(summary(eventsOf(held)), "ENTER UP DOWN RIGHT+") << held;
    const size_t exit = held.find("release keys & mouse...");
    ASSERT_NE(exit, std::string::npos) << held;
    EXPECT_NE(held.find("[input] key vk=39 scan=0xCD flags=0x2 (up)", exit), std::string::npos)
        << held;
}

TEST_F(Examples, MouseClicksOnRestThenRightClicksDoubleClicksAndDrags) {
    const std::string log = play("mouse");
    const std::vector<Event> events = eventsOf(log);
    // Rest: left click; swipe right: right click; rest: left click; push:
    // double click; rest: left click; swipe down: the left button goes down,
    // and a quick stroke down lets it up.
    ASSERT_EQ(summary(events), "L_BUTTON R_BUTTON L_BUTTON L_BUTTON L_BUTTON L_BUTTON L_BUTTON")
        << log;

    // Between the grab and the drop the pointer moved to the right: a drag.
    const Event& grab = events[events.size() - 2];
    const Event& drop = events.back();
    const std::string between = log.substr(grab.at, drop.at - grab.at);
    const std::string move = "[input] mouse move dx=";
    std::vector<int> xs;
    for (size_t at = between.find(move); at != std::string::npos; at = between.find(move, at + 1)) {
        xs.push_back(std::stoi(between.substr(at + move.size())));
    }
    ASSERT_GE(xs.size(), 10u) << between;
    EXPECT_GT(xs.back(), xs.front() + 1000) << between;
}

TEST_F(Examples, TheDemoFiresEveryGestureOfTheDefaultConfiguration) {
    // scripts/demo plays the scene in real time; here every frame is read,
    // so a gesture the scene makes too faintly fails every time, not now and then.
    std::ifstream in(sourceDir() + "/scenes/demo.scene");
    std::stringstream text;
    text << in.rdbuf();
    std::string scene = text.str();
    const size_t sensor = scene.find("\nsensor ");
    ASSERT_NE(sensor, std::string::npos);
    scene.insert(scene.find('\n', sensor + 1), " speed=nodrop");
    const TempFile nodrop(scene, ".scene");
    const std::string log = playFiles(nodrop.path(), sourceDir() + "/gesture_event.txt",
                                      framesOf(sourceDir() + "/scenes/demo.scene"));
    // Left, Right, Return; F5, Escape, End and Home (VK_F5, VK_END and VK_HOME
    // are logged under the characters of their codes).
    EXPECT_EQ(summary(eventsOf(log)), "LEFT RIGHT ENTER t ESC # $") << log;
    EXPECT_NE(log.find("Two hands : Reference"), std::string::npos) << log;
}
