// "-input": the word on the command line, and which backend each case of
// "auto" and each named backend ends with, through stand-in backends.
#include "app/InputChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/CommandLine.h"
#include "platform/RecordingDesktop.h"

namespace {

// Stand-ins that record which backends were tried; each starts or fails
// with the given reason.
struct Backends {
    explicit Backends(std::string wayland = "", std::string uinput = "", std::string x11 = "")
        : waylandError(std::move(wayland)),
          uinputError(std::move(uinput)),
          x11Error(std::move(x11)) {}
    std::string waylandError, uinputError, x11Error;  // empty: it starts
    std::vector<std::string> tried;

    DesktopOpener opener(const std::string& name, const std::string& error) {
        return [this, name, error](std::string& description,
                                   std::string& why) -> std::unique_ptr<platform::Desktop> {
            tried.push_back(name);
            if (!error.empty()) {
                why = error;
                return nullptr;
            }
            description = name + " backend";
            return std::make_unique<platform::RecordingDesktop>();
        };
    }
    InputChoice choose(InputBackend wanted, bool waylandSession) {
        InputOpeners o;
        o.waylandSession = waylandSession;
        o.wayland = opener("wayland", waylandError);
        o.uinput = opener("uinput", uinputError);
        o.x11 = opener("x11", x11Error);
        return chooseInput(wanted, o);
    }
};

using Tried = std::vector<std::string>;

}  // namespace

TEST(InputChoice, TheOptionTakesFourWords) {
    const char* argv[] = {"tolvane", "-input", "uinput"};
    EXPECT_EQ(parseCommandLine(3, argv).input, "uinput");
    EXPECT_EQ(parseCommandLine(1, argv).input, "auto");
    const char* bad[] = {"tolvane", "-input", "Wayland"};
    EXPECT_EQ(parseCommandLine(3, bad).error,
              "-input needs auto, x11, wayland or uinput, not \"Wayland\"");
}

TEST(InputChoice, AutoTakesXTestUnderX11AndTheBestBackendUnderWayland) {
    Backends x11Only;
    InputChoice c = x11Only.choose(InputBackend::Auto, false);
    EXPECT_EQ(x11Only.tried, Tried{"x11"});
    EXPECT_EQ(c.logLine, "Input: x11 backend\n");
    EXPECT_TRUE(c.warning.empty());

    Backends all;
    c = all.choose(InputBackend::Auto, true);
    EXPECT_EQ(all.tried, Tried{"wayland"});
    EXPECT_EQ(c.logLine, "Input: wayland backend\n");

    Backends noProtocols("the Wayland compositor (kwin) offers no virtual keyboard");
    c = noProtocols.choose(InputBackend::Auto, true);
    EXPECT_EQ(noProtocols.tried, (Tried{"wayland", "uinput"}));
    EXPECT_EQ(c.logLine, "Input: uinput backend\n");
    EXPECT_TRUE(c.warning.empty());
}

TEST(InputChoice, AutoFallsBackToXWaylandWithAWarningThatSaysWhatWillWork) {
    Backends b("the Wayland compositor (kwin) offers no virtual keyboard",
               "/dev/uinput: Permission denied");
    const InputChoice c = b.choose(InputBackend::Auto, true);
    EXPECT_EQ(b.tried, (Tried{"wayland", "uinput", "x11"}));
    ASSERT_TRUE(c.desktop);
    EXPECT_EQ(c.logLine, "Input: x11 backend\n");
    for (const char* part :
         {"offers no virtual keyboard", "/dev/uinput: Permission denied",
          "X11 applications receive it", "native Wayland applications receive nothing",
          "see README, Wayland"}) {
        EXPECT_NE(c.warning.find(part), std::string::npos) << part << " in " << c.warning;
    }

    Backends none("no compositor", "/dev/uinput: No such file or directory",
                  "cannot open X display \"\"");
    const InputChoice nothing = none.choose(InputBackend::Auto, true);
    EXPECT_FALSE(nothing.desktop);
    EXPECT_NE(nothing.error.find("cannot open X display"), std::string::npos) << nothing.error;
}

TEST(InputChoice, ANamedBackendIsTheOnlyOneTriedAndSaysWhyItCannotStart) {
    Backends b("the Wayland compositor (mutter) offers no virtual pointer",
               "/dev/uinput: Permission denied", "cannot open X display \":5\"");
    InputChoice c = b.choose(InputBackend::Uinput, true);
    EXPECT_FALSE(c.desktop);
    EXPECT_EQ(c.error, "/dev/uinput: Permission denied — see README, Wayland");
    c = b.choose(InputBackend::Wayland, false);
    EXPECT_EQ(c.error,
              "the Wayland compositor (mutter) offers no virtual pointer — see README, Wayland");
    c = b.choose(InputBackend::X11, true);
    EXPECT_EQ(c.error,
              "cannot open X display \":5\"; Tolvane needs an X11 display (or XWayland) for its "
              "windows and input: run it in a desktop session, or under Xvfb to try it");
    EXPECT_EQ(b.tried, (Tried{"uinput", "wayland", "x11"}));

    Backends works;
    c = works.choose(InputBackend::Uinput, false);
    EXPECT_TRUE(c.desktop);
    EXPECT_EQ(c.logLine, "Input: uinput backend\n");
}
