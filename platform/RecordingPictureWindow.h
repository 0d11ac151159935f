// A PictureWindow that records every call instead of showing anything, for
// tests of the feedback logic. Calls after a failed create() are recorded
// too, as the caller made them. Event processing is counted apart from the
// calls: it changes nothing on screen by itself.
#pragma once

#include <string>
#include <vector>

#include "platform/PictureWindow.h"

namespace platform {

struct PictureWindowCall {
    enum class Type { Create, Lower, Raise, Draw };
    Type type = Type::Create;
    // Create: the settings, with title and class copied.
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t alpha = 0;
    std::string title;
    std::string className;
    // Draw: the picture's fingerprint.
    uint64_t picture = 0;
};

// "create 0,0 128x128 alpha 255", "lower", "raise", "draw 0123456789abcdef".
std::string describe(const PictureWindowCall& call);

class RecordingPictureWindow final : public PictureWindow {
  public:
    explicit RecordingPictureWindow(ScreenSize screen = {1920, 1080}) : screen_(screen) {}

    ScreenSize screenSize() override { return screen_; }
    bool create(const PictureWindowSettings& settings) override;
    void lowerToBottom() override;
    void raiseToTop() override;
    void draw(const PicturePixels& pixels) override;
    void processEvents() override { ++eventPolls_; }

    // Makes the next create() fail, like a missing display.
    void failCreate() { failCreate_ = true; }

    const std::vector<PictureWindowCall>& calls() const { return calls_; }
    // The calls so far, forgotten afterwards.
    std::vector<PictureWindowCall> take();
    int eventPolls() const { return eventPolls_; }

  private:
    void add(PictureWindowCall::Type type);

    const ScreenSize screen_;
    bool failCreate_ = false;
    std::vector<PictureWindowCall> calls_;
    int eventPolls_ = 0;
};

}  // namespace platform
