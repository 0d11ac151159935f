#include "platform/RecordingPictureWindow.h"

#include <cstdio>

namespace platform {

std::string describe(const PictureWindowCall& call) {
    char text[96];
    switch (call.type) {
        case PictureWindowCall::Type::Create:
            std::snprintf(text, sizeof text, "create %d,%d %dx%d alpha %d", call.x, call.y,
                          call.width, call.height, call.alpha);
            return text;
        case PictureWindowCall::Type::Lower:
            return "lower";
        case PictureWindowCall::Type::Raise:
            return "raise";
        case PictureWindowCall::Type::Draw:
            std::snprintf(text, sizeof text, "draw %016llx",
                          static_cast<unsigned long long>(call.picture));
            return text;
    }
    return "?";
}

bool RecordingPictureWindow::create(const PictureWindowSettings& settings) {
    PictureWindowCall call;
    call.type = PictureWindowCall::Type::Create;
    call.x = settings.x;
    call.y = settings.y;
    call.width = settings.width;
    call.height = settings.height;
    call.alpha = settings.alpha;
    call.title = settings.title;
    call.className = settings.className;
    calls_.push_back(std::move(call));
    return !failCreate_;
}

void RecordingPictureWindow::add(PictureWindowCall::Type type) {
    PictureWindowCall call;
    call.type = type;
    calls_.push_back(std::move(call));
}

void RecordingPictureWindow::lowerToBottom() {
    add(PictureWindowCall::Type::Lower);
}

void RecordingPictureWindow::raiseToTop() {
    add(PictureWindowCall::Type::Raise);
}

void RecordingPictureWindow::draw(const PicturePixels& pixels) {
    PictureWindowCall call;
    call.type = PictureWindowCall::Type::Draw;
    call.picture = pictureFingerprint(pixels);
    calls_.push_back(std::move(call));
}

std::vector<PictureWindowCall> RecordingPictureWindow::take() {
    std::vector<PictureWindowCall> out;
    out.swap(calls_);
    return out;
}

}  // namespace platform
