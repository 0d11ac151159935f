// The feedback display: a small picture window that stays on top of the
// application being controlled while hands are seen, and bell characters on
// standard output, so that a user who cannot see the display window still
// knows what the program sees.
//
// How the viewer drives it:
//
//   // construction (once):
//   feedback_ = std::make_unique<feedback::Feedback>(
//       std::make_unique<platform::X11PictureWindow>(), desktop_);
//
//   // init, once, right after the configuration is loaded and feedbackCode
//   // (= feedbackWindow * 16 + feedbackSound) is formed:
//   feedback_->setup(feedbackCode, feedbackState_, handCount_);
//
//   // every frame, in updateFeedback, right after drawing the overlay (the
//   // gesture manager has written feedbackState_ and handCount_ is the
//   // frame's hand count):
//   feedback_->update(feedbackState_, handCount_);
//
//   // the display window's icon, once its X window exists (with freeglut,
//   // glXGetCurrentDrawable() right after glutCreateWindow is that window):
//   platform::PicturePixels icon;
//   if (feedback::loadIcon(icon)) platform::setX11WindowIcon(nullptr, window, icon);
//
// update() changes the picture only when the state code changes, so a steady
// state makes no window call and loads no picture; it also lets the window
// system's notifications for the picture window be handled (staying on top
// without a window manager), which costs one non-blocking poll per frame.
// Nothing is allocated after construction.
#pragma once

#include <cstdint>
#include <memory>

#include "gesture/FeedbackState.h"
#include "platform/Desktop.h"
#include "platform/PictureWindow.h"

namespace feedback {

inline constexpr const char* kWindowTitle = "Tolvane (Info Window)";
inline constexpr const char* kWindowClass = "Tolvane_Info";
// The centred window (code 5) is translucent with this alpha of 255.
inline constexpr int32_t kTranslucentAlpha = 160;

// The window's top-left corner for a window code (1 top left, 2 top right,
// 3 bottom left, 4 bottom right, 5 centred; any other code bottom right).
platform::ScreenPoint windowPosition(int32_t windowCode, platform::ScreenSize screen);

// The frame's state code: hand count in the low bits, the flags that matter
// for the picture above them. Two frames with the same code show the same.
int32_t stateCode(const gesture::FeedbackState& state, int32_t handCount);

// The picture index (0..9) for a frame, or -1 for a hand count other than 0,
// 1 or 2, which changes nothing.
int pictureIndex(const gesture::FeedbackState& state, int32_t handCount);

// Decodes built-in picture `index` (0..9) or the program icon. False, with
// `pixels` unchanged, if the resource is missing or unreadable.
bool loadPicture(int index, platform::PicturePixels& pixels);
bool loadIcon(platform::PicturePixels& pixels);

class Feedback {
  public:
    // `desktop` sends the Control tap and must outlive this object.
    Feedback(std::unique_ptr<platform::PictureWindow> window, platform::Desktop& desktop);
    Feedback(const Feedback&) = delete;
    Feedback& operator=(const Feedback&) = delete;

    // Once, after the configuration is loaded. Resets the feedback flags
    // (mode 1, the others that the picture and the sounds read 0) and the
    // hand count, splits `feedbackCode` into window mode (high nibble) and
    // sound mode (low nibble) and, unless the window mode is 0, creates the
    // window at its place, sends it to the bottom and shows picture 0.
    void setup(int32_t feedbackCode, gesture::FeedbackState& state, int32_t& handCount);

    // Once per frame, after the gesture manager has written `state`:
    // computes the state code; if it changed and there is a window, brings
    // the window to the top (hands seen) or sends it to the bottom (none)
    // and shows the matching picture; then, with sound on, beeps once for
    // singleBeep, twice for doubleBeep, and taps Control when the gesture
    // sub-mode was just switched on in mouse mode.
    void update(const gesture::FeedbackState& state, int32_t handCount);

    // Draws picture `index` (0..9), decoded afresh from the built-in bitmap.
    // A picture that does not load leaves the window as it was.
    void showPicture(int index);

    int32_t windowMode() const { return windowMode_; }
    int32_t soundMode() const { return soundMode_; }
    // 1 when the last update() found a new state code.
    int32_t stateChanged() const { return stateChanged_; }
    int32_t previousStateCode() const { return previousCode_; }
    platform::PictureWindow& window() { return *window_; }

  private:
    void createWindow(int32_t windowCode);
    void tapControl();

    std::unique_ptr<platform::PictureWindow> window_;
    platform::Desktop& desktop_;
    int32_t windowMode_ = 0;
    int32_t soundMode_ = 0;
    int32_t stateChanged_ = 0;
    int32_t previousCode_ = 0;
    platform::PicturePixels pixels_{};
};

}  // namespace feedback
