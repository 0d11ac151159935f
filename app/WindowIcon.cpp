#include "app/WindowIcon.h"

#include <GL/glx.h>

#include "feedback/Feedback.h"
#include "platform/X11PictureWindow.h"

void setCurrentWindowIcon() {
    platform::PicturePixels icon;
    const GLXDrawable window = glXGetCurrentDrawable();
    if (window != 0 && feedback::loadIcon(icon)) {
        platform::setX11WindowIcon(nullptr, static_cast<unsigned long>(window), icon);
    }
}
