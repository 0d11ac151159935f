// Runs every scenario file of tests/gesture/scenarios as one test each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Scenario.h"

namespace {

std::filesystem::path scenarioDir() {
    if (const char* source = std::getenv("TOLVANE_SOURCE_DIR")) {
        return std::filesystem::path(source) / "tests/gesture/scenarios";
    }
    return TOLVANE_SCENARIO_DIR;
}

std::vector<std::string> scenarioFiles() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scenarioDir(), ec)) {
        if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Scenario : public testing::TestWithParam<std::string> {};

TEST_P(Scenario, MatchesItsTranscript) {
    const auto result = gesture::scenario::runFile(GetParam());
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_TRUE(result.ok) << GetParam() << ": expected (-) versus actual (+):\n"
                           << gesture::scenario::diff(result.expected, result.actual);
}

// Without a decision sink the log is the file's transcript without its
// "why:" lines; the explainer and the trace only add their own lines.
TEST_P(Scenario, ExplainingAndTracingChangeNothingElse) {
    using gesture::scenario::Sinks;
    using gesture::scenario::withoutExplanations;
    const auto plain = gesture::scenario::runFile(GetParam(), Sinks::None);
    const auto all = gesture::scenario::runFile(GetParam(), Sinks::All);
    ASSERT_TRUE(all.error.empty()) << all.error;
    const auto expected = withoutExplanations(plain.expected);
    EXPECT_EQ(expected, plain.actual) << gesture::scenario::diff(expected, plain.actual);
    const auto explained = withoutExplanations(all.actual);
    EXPECT_EQ(plain.actual, explained) << gesture::scenario::diff(plain.actual, explained);
}

INSTANTIATE_TEST_SUITE_P(Files, Scenario, testing::ValuesIn(scenarioFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = std::filesystem::path(info.param).stem().string();
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(ScenarioFiles, ReportsABadLineWithItsNumber) {
    const std::string path = testing::TempDir() + "bad_scenario.txt";
    std::ofstream(path) << "config\nend\nhand 0,0,1000\nhand 0,0\n";
    const auto result = gesture::scenario::runFile(path);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("bad_scenario.txt:4: bad point"), std::string::npos)
        << result.error;

    std::ofstream(path) << "hand 0,0,1000\n";
    EXPECT_NE(gesture::scenario::runFile(path).error.find("no configuration"), std::string::npos);
}

TEST(ScenarioFiles, ThereAreSome) {
    EXPECT_FALSE(scenarioFiles().empty()) << scenarioDir();
}

}  // namespace
