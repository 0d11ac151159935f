// Follows the key and button records a recording desktop received and knows
// what is down. Keys go by virtual-key code; buttons by the flags of their
// records, for the three buttons whose down and up records tell them apart
// (left, right, middle). Absolute moves, wheel notches and records without
// flags are not presses of anything it can follow.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/RecordingDesktop.h"

namespace fuzz {

class InputLedger {
  public:
    // Takes one record; returns "" or what is wrong with it: a release of a
    // key or button that is not down, or a press of one that already is.
    std::string add(const platform::InputRecord& r) {
        using platform::InputRecord;
        if (r.type == InputRecord::Type::Key) {
            const bool up = (r.key.flags & platform::KEYEVENTF_KEYUP) != 0;
            const uint16_t vk = r.key.vk;
            if (up) {
                if (keys_.erase(vk) == 0)
                    return "key " + std::to_string(vk) + " released but not down";
            } else if (!keys_.insert(vk).second) {
                return "key " + std::to_string(vk) + " pressed while down";
            }
            return "";
        }
        if (r.mouse.flags & platform::MOUSEEVENTF_ABSOLUTE) return "";
        for (int b = 0; b < 3; ++b) {
            if (r.mouse.flags == kButtons[b].down) {
                if (buttons_[b]) return std::string(kButtons[b].name) + " pressed while down";
                buttons_[b] = true;
            } else if (r.mouse.flags == kButtons[b].up) {
                if (!buttons_[b]) return std::string(kButtons[b].name) + " released but not down";
                buttons_[b] = false;
            }
        }
        return "";
    }

    // What is down, as a list; "" when nothing is.
    std::string down() const {
        std::string out;
        for (uint16_t vk : keys_) out += "key " + std::to_string(vk) + " ";
        for (int b = 0; b < 3; ++b) {
            if (buttons_[b]) out += std::string(kButtons[b].name) + " ";
        }
        return out;
    }

  private:
    struct Button {
        const char* name;
        uint32_t down;
        uint32_t up;
    };
    static constexpr Button kButtons[3] = {
        {"left button", platform::MOUSEEVENTF_LEFTDOWN, platform::MOUSEEVENTF_LEFTUP},
        {"right button", platform::MOUSEEVENTF_RIGHTDOWN, platform::MOUSEEVENTF_RIGHTUP},
        {"middle button", platform::MOUSEEVENTF_MIDDLEDOWN, platform::MOUSEEVENTF_MIDDLEUP},
    };
    std::set<uint16_t> keys_;
    bool buttons_[3] = {false, false, false};
};

}  // namespace fuzz
