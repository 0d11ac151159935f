// Tolvane: hand gestures seen by a depth sensor become keyboard and mouse
// input for the desktop.
#include <GL/freeglut.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/ConfigLocation.h"
#include "app/InputChoice.h"
#include "app/SampleViewer.h"
#include "config/Configuration.h"
#include "input/ScreenMapping.h"
#include "platform/Log.h"
#include "platform/RecordingDesktop.h"
#include "platform/X11Desktop.h"
#include "platform/X11PictureWindow.h"

namespace {

constexpr platform::ScreenSize kFallbackScreen{1920, 1080};

// "-check": reads the configuration as start-up would and prints the same
// log, screen mapping included, with no sensor, no window and no emitters,
// then its errors; reports whether it loaded.
int checkConfiguration(const Options& options) {
    const Configuration config = readConfiguration(options.configPath.c_str(), platform::usKeyScan);
    for (const std::string& piece : config.log) logLine("%s", piece.c_str());
    logScreenMapping(config.screenMapping(320, 240, platform::displayScreenSize(kFallbackScreen)));
    for (const std::string& e : config.errors) std::printf("%s\n", e.c_str());
    std::fflush(stdout);
    return config.failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    logLine("Usage: Tolvane.exe [-config filename]\n\n");
    Options options = parseCommandLine(argc, argv);
    if (!options.configGiven) {
        options.configPath = locateConfiguration("", TOLVANE_DATA_DIR);
        if (options.configPath.size() >= Options::kPathBufferSize) {
            options.error = "the configuration path is longer than 999 characters";
        }
    }
    if (options.help) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", options.error.c_str());
        return 1;
    }
    if (options.check) return checkConfiguration(options);

    std::unique_ptr<platform::Desktop> desktop;
    if (options.dryRun) {
        desktop = std::make_unique<platform::RecordingDesktop>(
            platform::displayScreenSize(kFallbackScreen), stderr);
        logLine("Input: none, events are printed (-dry-run)\n");
    } else {
        InputBackend wanted = InputBackend::Auto;
        parseInputBackend(options.input, wanted);
        InputChoice choice = chooseInput(wanted, systemInputOpeners());
        if (!choice.desktop) {
            std::fprintf(stderr, "tolvane: %s\n", choice.error.c_str());
            return 1;
        }
        if (!choice.warning.empty()) std::fprintf(stderr, "tolvane: %s\n", choice.warning.c_str());
        logLine("%s", choice.logLine.c_str());
        desktop = std::move(choice.desktop);
    }

    platform::installConnectionLossHandler();

    // A signal ends the main loop like Escape, so that the viewer's teardown
    // releases whatever the program holds down.
    struct sigaction action {};
    action.sa_handler = [](int) { SampleViewer::requestStop(1); };
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);

    int code = 0;
    {
        SampleViewer viewer(options, *desktop, std::make_unique<platform::X11PictureWindow>());
        if (viewer.init(argc, argv) != 0) {
            code = 1;
        } else {
            glutMainLoop();
            code = viewer.exitCode();
        }
    }
    return code;
}
