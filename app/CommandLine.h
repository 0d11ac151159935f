// The command line: options are whole arguments, compared exactly, each
// followed by its value where it takes one; the first occurrence wins and an
// option in the last position without its value is ignored.
#pragma once

#include <string>

struct Options {
    static constexpr std::size_t kPathBufferSize = 1000;

    std::string configPath = "gesture_event.txt";
    bool configGiven = false;
    std::string device;  // empty: any device
    bool check = false;
    bool dryRun = false;
    std::string input = "auto";  // -input: auto, x11, wayland or uinput
    bool help = false;
    bool watch = false;
    bool explain = false;  // "why:" lines, and the tuning view on from the start
    bool trace = false;    // one "trace," line per frame
    long frames = -1;      // -1: run until stopped
    std::string snapshot;  // with -frames: the last frame of the window, as a PPM file
    std::string error;     // non-empty: refuse to start, with this message
};

Options parseCommandLine(int argc, const char* const* argv);

// One line per option, for "-help".
const char* helpText();
