#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Options parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tolvane");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(CommandLine, ConfigIsTheWholeArgumentFollowedByItsValue) {
    EXPECT_EQ(parse({}).configPath, "gesture_event.txt");
    EXPECT_EQ(parse({"-config", "a.txt"}).configPath, "a.txt");
    EXPECT_EQ(parse({"-config", "a.txt", "-config", "b.txt"}).configPath, "a.txt");
    EXPECT_EQ(parse({"x", "-config"}).configPath, "gesture_event.txt");  // last: ignored
    EXPECT_EQ(parse({"-Config", "a.txt"}).configPath, "gesture_event.txt");
    EXPECT_EQ(parse({"-config=a.txt"}).configPath, "gesture_event.txt");
    const Options both = parse({"-device", "x.scene", "-config", "c.txt"});
    EXPECT_EQ(both.device, "x.scene");
    EXPECT_EQ(both.configPath, "c.txt");
    EXPECT_TRUE(parse({"-device"}).device.empty());
}

TEST(CommandLine, APathThatDoesNotFitIsRefusedNotTruncated) {
    EXPECT_TRUE(parse({"-config", std::string(999, 'p')}).error.empty());
    const Options o = parse({"-config", std::string(1000, 'p')});
    EXPECT_FALSE(o.error.empty());
    EXPECT_EQ(o.configPath, "gesture_event.txt");
}

TEST(CommandLine, FlagsAndFrames) {
    const Options o = parse({"-check", "-dry-run", "-frames", "120"});
    EXPECT_TRUE(o.check);
    EXPECT_TRUE(o.dryRun);
    EXPECT_FALSE(o.help);
    EXPECT_EQ(o.frames, 120);
    EXPECT_EQ(parse({}).frames, -1);
    EXPECT_FALSE(parse({"-frames", "12x"}).error.empty());
    EXPECT_FALSE(parse({"-frames", "-3"}).error.empty());
    EXPECT_TRUE(parse({"-help"}).help);
}
