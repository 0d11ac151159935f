// `cmake --install` of this build into a temporary folder (DESTDIR, so that
// nothing outside it is touched, the driver's system folder included), then
// the installed programs run from there without the build tree.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/XvfbServer.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder in the temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tolvane-install-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool executable(const fs::path& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

// The file a shared library name resolves to for `program`, from ldd; empty
// when it does not.
std::string resolvedLibrary(const std::string& program, const std::string& library) {
    const ProgramResult ldd = runCommand("ldd " + shellQuote(program));
    std::istringstream lines(ldd.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t arrow = line.find(" => ");
        if (line.find(library) == std::string::npos || arrow == std::string::npos) continue;
        const size_t start = arrow + 4;
        return line.substr(start, line.find(" (", start) - start);
    }
    return "";
}

class Installed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        destdir_ = std::make_unique<TempDir>();
        install_ = std::make_unique<ProgramResult>(
            runCommand("DESTDIR=" + shellQuote(destdir_->path()) + " " +
                       shellQuote(TOLVANE_CMAKE_COMMAND) + " --install " + shellQuote(buildDir())));
    }
    static void TearDownTestSuite() {
        install_.reset();
        destdir_.reset();
    }

    void SetUp() override { ASSERT_EQ(install_->exitCode, 0) << install_->out; }

    // A path of the installation, inside DESTDIR.
    static fs::path staged(const std::string& absolute) { return destdir_->path() + absolute; }
    static fs::path prefix() { return staged(TOLVANE_INSTALL_PREFIX); }
    static fs::path program(const std::string& name) {
        return prefix() / TOLVANE_INSTALL_BINDIR / name;
    }
    static fs::path data() { return prefix() / TOLVANE_INSTALL_DATADIR / "tolvane"; }

    static std::unique_ptr<TempDir> destdir_;
    static std::unique_ptr<ProgramResult> install_;
};

std::unique_ptr<TempDir> Installed::destdir_;
std::unique_ptr<ProgramResult> Installed::install_;

}  // namespace

TEST_F(Installed, ProgramsDriverConfigurationExamplesScenesAndGuideAreInPlace) {
    EXPECT_TRUE(executable(program("tolvane")));
    EXPECT_TRUE(executable(program("tolvane-record")));
    EXPECT_TRUE(fs::is_regular_file(staged(TOLVANE_DRIVERS_DIR) / "libTolvaneSim.so.0"))
        << install_->out;
    EXPECT_TRUE(fs::is_regular_file(staged(TOLVANE_DRIVERS_DIR) / "libTolvaneFreenect.so.0"));

    EXPECT_EQ(contents(data() / "gesture_event.txt"), contents(sourceDir() + "/gesture_event.txt"));
    int examples = 0;
    for (const auto& entry : fs::directory_iterator(sourceDir() + "/examples")) {
        if (entry.path().extension() != ".txt") continue;
        ++examples;
        const fs::path installed = data() / "examples" / entry.path().filename();
        EXPECT_EQ(contents(installed), contents(entry.path())) << installed;
        const fs::path scene =
            data() / "scenes" / "examples" / (entry.path().stem().string() + ".scene");
        EXPECT_TRUE(fs::is_regular_file(scene)) << scene;
    }
    EXPECT_GE(examples, 5);
    EXPECT_TRUE(fs::is_regular_file(data() / "scenes" / "demo.scene"));
    EXPECT_TRUE(fs::is_regular_file(prefix() / TOLVANE_INSTALL_DOCDIR / "README.md"));
    EXPECT_NE(contents(staged(TOLVANE_UDEV_RULES_DIR) / "70-tolvane-uinput.rules")
                  .find("KERNEL==\"uinput\""),
              std::string::npos);
}

TEST_F(Installed, TheInstalledProgramChecksTheInstalledConfigurations) {
    std::vector<fs::path> files{data() / "gesture_event.txt"};
    for (const auto& entry : fs::directory_iterator(data() / "examples")) {
        files.push_back(entry.path());
    }
    for (const fs::path& file : files) {
        const ProgramResult r = runCommand(shellQuote(program("tolvane").string()) +
                                           " -check -config " + shellQuote(file.string()));
        EXPECT_EQ(r.exitCode, 0) << file << "\n" << r.out;
        EXPECT_NE(r.out.find("Open configuration file : " + file.string()), std::string::npos)
            << r.out;
    }
}

TEST_F(Installed, TheInstalledProgramsUseTheSystemOpenNIAndNotTheBuildTree) {
    for (const char* name : {"tolvane", "tolvane-record"}) {
        const std::string path = program(name).string();
        const ProgramResult ldd = runCommand("ldd " + shellQuote(path));
        EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;
        EXPECT_EQ(ldd.out.find(buildDir()), std::string::npos) << ldd.out;
        EXPECT_NE(resolvedLibrary(path, "libOpenNI2.so.0"), "") << ldd.out;
    }
}

// What an install with the driver in the system's OpenNI 2 folder gives,
// without root: the system OpenNI 2 loaded through a private folder whose
// OpenNI2/Drivers holds the installed driver.
TEST_F(Installed, TheInstalledDriverPlaysAnInstalledSceneWithAnInstalledExample) {
    XvfbServer server;
    if (!server.ok()) GTEST_SKIP() << server.error();
    const std::string openni = resolvedLibrary(program("tolvane").string(), "libOpenNI2.so.0");
    ASSERT_NE(openni, "");
    TempDir stage;
    const fs::path drivers = fs::path(stage.path()) / "OpenNI2" / "Drivers";
    fs::create_directories(drivers);
    fs::create_symlink(fs::canonical(openni), fs::path(stage.path()) / "libOpenNI2.so.0");
    fs::create_symlink(staged(TOLVANE_DRIVERS_DIR) / "libTolvaneSim.so.0",
                       drivers / "libTolvaneSim.so.0");

    // The slides example's first gesture, a swipe right, comes at about 5 s.
    ChildProcess tolvane(
        {program("tolvane").string(), "-device",
         (data() / "scenes" / "examples" / "slides.scene").string(), "-config",
         (data() / "examples" / "slides.txt").string(), "-dry-run", "-frames", "200"},
        {"DISPLAY=" + server.display(), "LD_LIBRARY_PATH=" + stage.path()});
    EXPECT_EQ(tolvane.wait(120000), 0) << tolvane.output();
    EXPECT_NE(tolvane.output().find(">>> key : RIGHT - down"), std::string::npos)
        << tolvane.output();
    EXPECT_NE(tolvane.output().find(">>> key : RIGHT - release"), std::string::npos);
}
