// The program's log: printf-style text on standard output, flushed at once so
// that a user watching through a pipe sees each event as it happens.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace platform {

// Whether the log's last character written was a line end (or nothing has
// been written yet).
inline bool& logAtLineStart() {
    static bool atStart = true;
    return atStart;
}

__attribute__((format(printf, 1, 0))) inline void logFormatted(const char* format, va_list args) {
    char text[1024];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof text) {
        std::fwrite(text, 1, static_cast<size_t>(n), stdout);
        if (n > 0) logAtLineStart() = text[n - 1] == '\n';
    } else {
        std::vprintf(format, again);
        logAtLineStart() = false;
    }
    va_end(again);
    std::fflush(stdout);
}

}  // namespace platform

__attribute__((format(printf, 1, 2))) inline void logLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    platform::logFormatted(format, args);
    va_end(args);
}

// A line of its own: starts with a line end when the log is in the middle of
// a line (a key held down logs "down" and a tab, and its release follows).
__attribute__((format(printf, 1, 2))) inline void logOwnLine(const char* format, ...) {
    if (!platform::logAtLineStart()) logLine("\n");
    va_list args;
    va_start(args, format);
    platform::logFormatted(format, args);
    va_end(args);
}
