// Harnesses for hostile input: each takes arbitrary bytes, drives one reader
// of outside data with them and checks what comes out. They return "" when
// the input was handled correctly, otherwise a description of what went
// wrong; a crash or a sanitizer report is a failure too.
//
// The same functions run as libFuzzer programs (FuzzMain.cpp, fuzz_<name>)
// and as a GoogleTest replaying the committed inputs (FuzzReplayTest.cpp).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzz {

using Input = std::span<const uint8_t>;

// The bytes as a gesture configuration file, read by the configuration parser
// alone; its rules, settings and screen mapping are checked.
std::string configLoader(Input input);

// The bytes as scene text; a scene that parses is checked and its ground
// truth and a few small frames are computed.
std::string sceneParser(Input input);

// The bytes as a script of hand-tracker operations: camera set-ups, depth
// frames of any size, crop and content, start and stop requests at any
// position, gesture switches and smoothing factors.
std::string trackerCore(Input input);

struct Target {
    const char* name;  // folder name under corpus/ and regressions/
    std::string (*run)(Input);
};

inline constexpr Target kTargets[] = {
    {"config", configLoader},
    {"scene", sceneParser},
    {"tracker", trackerCore},
};

}  // namespace fuzz
