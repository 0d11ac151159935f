// The X11 picture window: a 128 x 128 top-level window showing one picture,
// kept above other windows while raised.
//
// Without a window manager the window is override-redirect and raises itself
// again whenever another window covers it (processEvents() sees the
// VisibilityNotify). Under an EWMH window manager it is an undecorated utility
// window, placed where asked, and staying on top is the window manager's
// job through the _NET_WM_STATE_ABOVE state. Translucency goes through
// _NET_WM_WINDOW_OPACITY, which only a compositing manager honours; without
// one the window is opaque.
//
// The picture is the window's background pixmap, so the X server repaints it
// on exposure without help from the program.
#pragma once

#include <memory>
#include <string>

#include "platform/PictureWindow.h"

namespace platform {

class X11PictureWindow final : public PictureWindow {
  public:
    // Connects to `displayName` (nullptr: $DISPLAY) when first needed.
    explicit X11PictureWindow(const char* displayName = nullptr);
    ~X11PictureWindow() override;
    X11PictureWindow(const X11PictureWindow&) = delete;
    X11PictureWindow& operator=(const X11PictureWindow&) = delete;

    ScreenSize screenSize() override;
    bool create(const PictureWindowSettings& settings) override;
    void lowerToBottom() override;
    void raiseToTop() override;
    void draw(const PicturePixels& pixels) override;
    void processEvents() override;

    // The X window, 0 until create() succeeds.
    unsigned long windowId() const;
    // Whether create() found a window manager.
    bool managed() const;
    // Why the display or the window is missing.
    const std::string& error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Sets `window`'s _NET_WM_ICON on `displayName` (nullptr: $DISPLAY) to
// `icon`, fully opaque. False if the display cannot be opened or the window
// does not exist.
bool setX11WindowIcon(const char* displayName, unsigned long window, const PicturePixels& icon);

}  // namespace platform
