#include "app/ConfigLocation.h"

#include <unistd.h>

#include <cstdlib>

namespace {

constexpr const char* kFileName = "gesture_event.txt";

bool readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::string locateConfiguration(const std::string& given, const std::string& installedDataDir) {
    if (!given.empty()) return given;
    if (readable(kFileName)) return kFileName;
    std::string userDir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        userDir = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        userDir = std::string(home) + "/.config";
    }
    if (!userDir.empty()) {
        std::string path = userDir + "/tolvane/" + kFileName;
        if (readable(path)) return path;
    }
    if (!installedDataDir.empty()) {
        std::string path = installedDataDir + "/" + kFileName;
        if (readable(path)) return path;
    }
    // Installed under another prefix than the one configured: the data
    // folder beside the program's bin folder.
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir = dir.substr(0, dir.rfind('/'));
        std::string path = dir + "/../share/tolvane/" + kFileName;
        if (readable(path)) return path;
    }
    return kFileName;  // reported as not found by the loader
}
