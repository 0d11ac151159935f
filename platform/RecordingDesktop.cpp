#include "platform/RecordingDesktop.h"

#include <cinttypes>

namespace platform {

std::string describe(const InputRecord& r) {
    char text[160];
    if (r.type == InputRecord::Type::Key) {
        std::snprintf(text, sizeof text, "[input] key vk=%u scan=0x%02X flags=0x%X (%s)", r.key.vk,
                      r.key.scan, r.key.flags, (r.key.flags & KEYEVENTF_KEYUP) ? "up" : "down");
    } else if (r.mouse.flags & MOUSEEVENTF_ABSOLUTE) {
        std::snprintf(text, sizeof text, "[input] mouse move dx=%d dy=%d flags=0x%X", r.mouse.dx,
                      r.mouse.dy, r.mouse.flags);
    } else {
        std::snprintf(text, sizeof text, "[input] mouse flags=0x%X data=%d", r.mouse.flags,
                      r.mouse.mouseData);
    }
    return text;
}

RecordingDesktop::RecordingDesktop(ScreenSize screen, std::FILE* echo)
    : screen_(screen), echo_(echo), cursor_{screen.width / 2, screen.height / 2} {}

void RecordingDesktop::add(const InputRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
    if (echo_ != nullptr) {
        std::fprintf(echo_, "%s\n", describe(record).c_str());
        std::fflush(echo_);
    }
}

void RecordingDesktop::sendKey(const KeyInput& input) {
    InputRecord r;
    r.type = InputRecord::Type::Key;
    r.key = input;
    add(r);
}

void RecordingDesktop::sendMouse(const MouseInput& input) {
    InputRecord r;
    r.type = InputRecord::Type::Mouse;
    r.mouse = input;
    if (input.flags & MOUSEEVENTF_ABSOLUTE) {
        std::lock_guard lock(mutex_);
        cursor_ = {normalisedToPixel(input.dx, screen_.width),
                   normalisedToPixel(input.dy, screen_.height)};
    }
    add(r);
}

ScreenPoint RecordingDesktop::cursorPos() {
    std::lock_guard lock(mutex_);
    return cursor_;
}

void RecordingDesktop::setCursorPos(ScreenPoint p) {
    std::lock_guard lock(mutex_);
    cursor_ = p;
}

void RecordingDesktop::sleepMs(int milliseconds) {
    std::lock_guard lock(mutex_);
    slept_ += milliseconds;
}

std::vector<InputRecord> RecordingDesktop::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<InputRecord> RecordingDesktop::take() {
    std::lock_guard lock(mutex_);
    std::vector<InputRecord> out;
    out.swap(records_);
    return out;
}

std::vector<ScreenPoint> RecordingDesktop::moves() const {
    std::lock_guard lock(mutex_);
    std::vector<ScreenPoint> out;
    for (const auto& r : records_) {
        if (r.type == InputRecord::Type::Mouse && (r.mouse.flags & MOUSEEVENTF_ABSOLUTE)) {
            out.push_back({normalisedToPixel(r.mouse.dx, screen_.width),
                           normalisedToPixel(r.mouse.dy, screen_.height)});
        }
    }
    return out;
}

long RecordingDesktop::sleptMs() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

}  // namespace platform
