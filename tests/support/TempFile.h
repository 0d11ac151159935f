// A file with the given text in the temporary folder, removed at the end of scope.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class TempFile {
  public:
    explicit TempFile(const std::string& text, const char* suffix = ".txt") {
        std::string pattern = std::string("/tmp/tolvane-test-XXXXXX") + suffix;
        const int fd = mkstemps(pattern.data(), static_cast<int>(std::string(suffix).size()));
        if (fd >= 0) {
            const ssize_t written = write(fd, text.data(), text.size());
            (void)written;
            close(fd);
            path_ = pattern;
        }
    }
    ~TempFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
