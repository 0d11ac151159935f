// An owned connection to an X server, for the X11 backends.
#pragma once

#include <X11/Xlib.h>

#include <memory>

namespace platform {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d != nullptr) XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

}  // namespace platform
