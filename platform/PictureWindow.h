// The small always-on-top picture window of the feedback display, as an
// operating-system boundary: the feedback logic decides where the window goes,
// when it comes to the top or goes to the bottom and which picture it shows;
// a backend (X11, recording) carries that out.
#pragma once

#include <cstdint>

#include "platform/Desktop.h"
#include "platform/Picture.h"

namespace platform {

struct PictureWindowSettings {
    int32_t x = 0;  // top-left corner in screen pixels
    int32_t y = 0;
    int32_t width = kPictureSide;
    int32_t height = kPictureSide;
    // 0..255; below 255 the window is translucent where the desktop can show it.
    int32_t alpha = 255;
    const char* title = "";
    const char* className = "";
};

class PictureWindow {
  public:
    virtual ~PictureWindow() = default;

    // The size of the screen the window will appear on ({0, 0} when unknown).
    virtual ScreenSize screenSize() = 0;
    // Creates the window, shown, not above other windows. Returns false when
    // it could not be created; every later call is then a no-op.
    virtual bool create(const PictureWindowSettings& settings) = 0;
    // Puts the window at the bottom of the stacking order; it stops staying on top.
    virtual void lowerToBottom() = 0;
    // Shows the window and brings it to the top, where it stays above other
    // windows until lowered.
    virtual void raiseToTop() = 0;
    // Replaces the window's picture.
    virtual void draw(const PicturePixels& pixels) = 0;
    // Handles the window system's notifications for the window (staying on
    // top, repainting). Cheap when nothing is pending; never blocks.
    virtual void processEvents() = 0;
};

}  // namespace platform
