// Plain-text gesture scenarios: a configuration, frames of hand positions and
// the events and log lines expected after each frame directive. A scenario is
// run through the real GestureFeed, router and emitters on a recording
// desktop; the result is a transcript compared line by line with the one the
// file expects. tests/gesture/scenarios/README.md describes the format.
#pragma once

#include <string>
#include <vector>

namespace gesture::scenario {

struct Result {
    bool ok = false;
    std::string error;  // a problem with the scenario file itself
    std::vector<std::string> expected;
    std::vector<std::string> actual;
};

// Which decision sinks a run attaches: as the file says ("explain"), none
// whatever it says, or the explainer and the trace writer both.
enum class Sinks { AsWritten, None, All };
Result runFile(const std::string& path, Sinks sinks = Sinks::AsWritten);

// The transcript without the lines that explanations and traces add.
std::vector<std::string> withoutExplanations(const std::vector<std::string>& transcript);

// A unified-style listing of the two transcripts: "  " common, "- " only
// expected, "+ " only actual.
std::string diff(const std::vector<std::string>& expected, const std::vector<std::string>& actual);

}  // namespace gesture::scenario
