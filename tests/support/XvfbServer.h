// A private X server for tests: starts Xvfb on a free display (it reports the
// number through -displayfd), and stops it when the object goes away.
#pragma once

#include <string>

class XvfbServer {
  public:
    // Starts Xvfb with the given screen size; check ok() afterwards.
    explicit XvfbServer(int width = 1280, int height = 1024);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return pid_ > 0 && !display_.empty(); }
    // ":N", for XOpenDisplay and $DISPLAY.
    const std::string& display() const { return display_; }
    // Why it could not start.
    const std::string& error() const { return error_; }

  private:
    int pid_ = -1;
    std::string display_;
    std::string error_;
};
