#include "app/CommandLine.h"

#include "app/InputChoice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The value after the first `name` among positions 1..argc-2, or null.
const char* valueOf(int argc, const char* const* argv, const char* name) {
    for (int i = 1; i < argc - 1; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return nullptr;
}

bool flagGiven(int argc, const char* const* argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

}  // namespace

Options parseCommandLine(int argc, const char* const* argv) {
    Options o;
    if (const char* path = valueOf(argc, argv, "-config")) {
        if (std::strlen(path) >= Options::kPathBufferSize) {
            o.error = "the -config path is longer than 999 characters";
        } else {
            o.configPath = path;
            o.configGiven = true;
        }
    }
    if (const char* uri = valueOf(argc, argv, "-device")) o.device = uri;
    if (const char* n = valueOf(argc, argv, "-frames")) {
        errno = 0;
        char* end = nullptr;
        const long v = std::strtol(n, &end, 10);
        if (*n == '\0' || *end != '\0' || errno == ERANGE || v < 0) {
            o.error = std::string("-frames needs a whole number of frames, not \"") + n + "\"";
        } else {
            o.frames = v;
        }
    }
    if (const char* file = valueOf(argc, argv, "-snapshot")) o.snapshot = file;
    if (const char* input = valueOf(argc, argv, "-input")) {
        InputBackend backend{};
        if (parseInputBackend(input, backend)) {
            o.input = input;
        } else {
            o.error =
                std::string("-input needs auto, x11, wayland or uinput, not \"") + input + "\"";
        }
    }
    o.check = flagGiven(argc, argv, "-check");
    o.dryRun = flagGiven(argc, argv, "-dry-run");
    o.help = flagGiven(argc, argv, "-help");
    o.watch = flagGiven(argc, argv, "-watch");
    o.explain = flagGiven(argc, argv, "-explain");
    o.trace = flagGiven(argc, argv, "-trace");
    return o;
}

const char* helpText() {
    return "Options:\n"
           "  -config FILE   configuration file (default gesture_event.txt)\n"
           "  -device URI    OpenNI 2 device URI: a sensor, an .oni recording or a .scene file\n"
           "                 (default: the first device found)\n"
           "  -check         load the configuration, print what loading prints, and exit\n"
           "                 (0 when it loaded, 1 when not); no sensor, no window\n"
           "  -dry-run       print input events instead of sending them to the desktop\n"
           "  -input WAY     how input reaches the desktop: auto (default), x11 (XTest),\n"
           "                 wayland (virtual keyboard and pointer protocols) or uinput\n"
           "  -frames N      run N frames, release everything held and exit 0\n"
           "  -snapshot FILE with -frames: save the window's last frame as a PPM picture\n"
           "  -watch         load the configuration file again whenever it changes\n"
           "                 (a file with errors is refused and the old one stays)\n"
           "  -explain       say on standard output why a gesture did nothing (\"why: \"\n"
           "                 lines), and show the tuning view from the start\n"
           "  -trace         one \"trace,\" line per frame with the recognisers' features\n"
           "  -help          this text\n"
           "Keys in the display window: P pauses and resumes recognition (releasing\n"
           "everything held), T shows or hides the tuning view, Escape ends the program.\n";
}
