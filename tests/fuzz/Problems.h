// Collects the broken expectations of one harness run as readable lines.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace fuzz {

class Problems {
  public:
    // Records the message when `ok` is false; returns ok.
    __attribute__((format(printf, 3, 4))) bool expect(bool ok, const char* format, ...) {
        if (ok) return true;
        char line[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        // The first few are enough to see what went wrong.
        if (count_++ < 20) {
            text_ += line;
            text_ += '\n';
        }
        return false;
    }
    void add(const std::string& message) {
        if (!message.empty()) expect(false, "%s", message.c_str());
    }
    bool empty() const { return count_ == 0; }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
    int count_ = 0;
};

}  // namespace fuzz
