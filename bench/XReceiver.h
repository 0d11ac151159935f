// A native X client on its own thread, for the input latency benchmark: a
// window over the screen with the keyboard focus, blocked in XNextEvent as
// applications are; it stamps the arrival of each press of Right.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class XReceiver {
  public:
    explicit XReceiver(const std::string& display);
    ~XReceiver();
    XReceiver(const XReceiver&) = delete;
    XReceiver& operator=(const XReceiver&) = delete;

    bool ok() const;
    // Waits up to five seconds for the press after `seen` presses and gives
    // its arrival time.
    bool waitPress(size_t seen, std::chrono::steady_clock::time_point& at);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Xlib's XInitThreads, for a program whose threads each use their own display.
void xInitThreads();
