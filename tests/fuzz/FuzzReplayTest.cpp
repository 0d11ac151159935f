// Replays every committed input of each fuzz harness: the seed corpora
// (corpus/<target>/) and the inputs that once failed (regressions/<target>/,
// each fixed since). Runs in every build, with or without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::is_directory(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public testing::TestWithParam<Target> {
  protected:
    // Runs every input of corpus/ or regressions/; returns how many there were.
    size_t replay(const char* kind) {
        const fs::path folder = fs::path(TOLVANE_FUZZ_DIR) / kind / GetParam().name;
        const std::vector<fs::path> files = inputsIn(folder);
        for (const fs::path& file : files) {
            const std::vector<uint8_t> bytes = readBytes(file);
            testing::internal::CaptureStdout();  // the loader logs what it reads
            const std::string problems = GetParam().run(Input(bytes.data(), bytes.size()));
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(problems, "") << file;
        }
        return files.size();
    }
};

TEST_P(FuzzReplay, SeedCorpus) {
    EXPECT_GE(replay("corpus"), 2u) << "the seed corpus went missing";
}

TEST_P(FuzzReplay, FixedFailures) {
    replay("regressions");
}

INSTANTIATE_TEST_SUITE_P(Harness, FuzzReplay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace fuzz
