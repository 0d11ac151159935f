// Runs the built program with arguments and collects its standard output and
// exit code (tests of the real binary).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = -1;
    std::string out;
};

inline std::string buildDir() {
    const char* dir = std::getenv("TOLVANE_BUILD_DIR");
    return dir != nullptr ? dir : ".";
}

inline std::string sourceDir() {
    const char* dir = std::getenv("TOLVANE_SOURCE_DIR");
    return dir != nullptr ? dir : "..";
}

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

// Runs `command` through the shell (with `env` prepended), standard error
// joined to standard output unless `keepStderr`.
inline ProgramResult runCommand(const std::string& command, bool keepStderr = false) {
    ProgramResult r;
    const std::string full = command + (keepStderr ? "" : " 2>&1");
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

inline ProgramResult runTolvane(const std::vector<std::string>& args, const std::string& env = "",
                                bool keepStderr = false) {
    std::string command = env + " " + shellQuote(buildDir() + "/tolvane");
    for (const auto& a : args) command += " " + shellQuote(a);
    return runCommand(command, keepStderr);
}
