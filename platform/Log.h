// The program's log: printf-style text on standard output, flushed at once so
// that a user watching through a pipe sees each event as it happens.
#pragma once

#include <cstdarg>
#include <cstdio>

__attribute__((format(printf, 1, 2))) inline void logLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
