// A Desktop that records every event instead of sending it. Tests assert the
// records; the "-dry-run" option prints them. The cursor is virtual: absolute
// moves place it, and tests may place it directly. Sleeps only add up.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace platform {

struct InputRecord {
    enum class Type { Key, Mouse };
    Type type = Type::Key;
    KeyInput key;
    MouseInput mouse;
    bool operator==(const InputRecord&) const = default;
};

// One readable line per record, as "-dry-run" prints it.
std::string describe(const InputRecord& record);

class RecordingDesktop final : public Desktop {
  public:
    explicit RecordingDesktop(ScreenSize screen = {1920, 1080}, std::FILE* echo = nullptr);

    void sendKey(const KeyInput& input) override;
    void sendMouse(const MouseInput& input) override;
    ScreenPoint cursorPos() override;
    ScreenSize screenSize() override { return screen_; }
    uintptr_t messageExtraInfo() override { return extraInfo_; }
    void sleepMs(int milliseconds) override;

    void setCursorPos(ScreenPoint p);
    void setExtraInfo(uintptr_t value) { extraInfo_ = value; }

    // A copy of the records so far; take() also forgets them.
    std::vector<InputRecord> records() const;
    std::vector<InputRecord> take();
    // Only the absolute moves, as screen pixels.
    std::vector<ScreenPoint> moves() const;
    long sleptMs() const;

  private:
    void add(const InputRecord& record);

    const ScreenSize screen_;
    std::FILE* const echo_;
    mutable std::mutex mutex_;
    std::vector<InputRecord> records_;
    ScreenPoint cursor_;
    uintptr_t extraInfo_ = 0;
    long slept_ = 0;
};

}  // namespace platform
