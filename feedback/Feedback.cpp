#include "feedback/Feedback.h"

#include "feedback/Bmp.h"
#include "feedback/Resources.h"
#include "platform/Log.h"

namespace feedback {

platform::ScreenPoint windowPosition(int32_t windowCode, platform::ScreenSize screen) {
    const int32_t right = screen.width - platform::kPictureSide;
    const int32_t bottom = screen.height - platform::kPictureSide;
    switch (windowCode) {
        case 1:
            return {0, 0};
        case 2:
            return {right, 0};
        case 3:
            return {0, bottom};
        case 5:
            return {right / 2, bottom / 2};
        default:
            return {right, bottom};
    }
}

int32_t stateCode(const gesture::FeedbackState& s, int32_t handCount) {
    // With two hands, and in mouse mode outside the gesture sub-mode, the
    // still-hand flag does not change the picture, so it is left out.
    if (handCount == 2 || (s.mode == 2 && s.mouseActive == 0))
        return ((s.twoHandDot * 4 | s.active * 2 | s.mouseActive) * 32) | handCount;
    return ((s.twoHandDot * 8 | s.active * 4 | s.mouseActive * 2 | s.anchorFollows) * 16) |
           handCount;
}

int pictureIndex(const gesture::FeedbackState& s, int32_t handCount) {
    switch (handCount) {
        case 0:
            return 0;
        case 1:
            if (s.mode == 1) {
                if (s.active != 1) return 1;
                return s.anchorFollows == 1 ? 2 : 3;
            }
            if (s.mouseActive != 1) return 4;
            return s.anchorFollows == 1 ? 5 : 6;
        case 2:
            if (s.active != 1) return 7;
            return s.twoHandDot == 1 ? 9 : 8;
        default:
            return -1;
    }
}

bool loadPicture(int index, platform::PicturePixels& pixels) {
    if (index < 0 || index >= kPictureCount) return false;
    return decodeBmp(resource(kFirstPictureResource + index), pixels);
}

bool loadIcon(platform::PicturePixels& pixels) {
    return decodeBmp(resource(kIconResource), pixels);
}

Feedback::Feedback(std::unique_ptr<platform::PictureWindow> window, platform::Desktop& desktop)
    : window_(std::move(window)), desktop_(desktop) {}

void Feedback::setup(int32_t feedbackCode, gesture::FeedbackState& state, int32_t& handCount) {
    state.mode = 1;
    state.anchorFollows = 0;
    state.mouseActive = 0;
    state.active = 0;
    state.singleBeep = 0;
    state.doubleBeep = 0;
    handCount = 0;
    stateChanged_ = 0;

    windowMode_ = (feedbackCode >> 4) & 15;
    soundMode_ = feedbackCode & 15;
    if (windowMode_ == 0) return;
    createWindow(windowMode_);
    window_->lowerToBottom();
    showPicture(0);
}

void Feedback::createWindow(int32_t windowCode) {
    const platform::ScreenPoint at = windowPosition(windowCode, window_->screenSize());
    platform::PictureWindowSettings settings;
    settings.x = at.x;
    settings.y = at.y;
    settings.width = platform::kPictureSide;
    settings.height = platform::kPictureSide;
    settings.alpha = windowCode == 5 ? kTranslucentAlpha : 255;
    settings.title = kWindowTitle;
    settings.className = kWindowClass;
    // A window that cannot be created turns every later call into a no-op;
    // the feedback carries on with the sounds alone.
    window_->create(settings);
}

void Feedback::showPicture(int index) {
    if (!loadPicture(index, pixels_)) return;
    window_->draw(pixels_);
}

void Feedback::update(const gesture::FeedbackState& state, int32_t handCount) {
    if (windowMode_ != 0) window_->processEvents();

    const int32_t code = stateCode(state, handCount);
    stateChanged_ = code != previousCode_ ? 1 : 0;

    if (windowMode_ != 0 && stateChanged_ == 1) {
        const int index = pictureIndex(state, handCount);
        if (handCount == 0) {
            window_->lowerToBottom();
        } else if (index >= 0) {
            window_->raiseToTop();
        }
        if (index >= 0) showPicture(index);
    }

    if (soundMode_ == 1) {
        if (state.singleBeep == 1) logLine("\a");
        if (state.doubleBeep == 1) {
            logLine("\a");
            logLine("\a");
        }
        if (state.mode == 2 && state.singleBeep == 1 && state.mouseActive == 1) tapControl();
    }

    previousCode_ = code;
}

void Feedback::tapControl() {
    platform::KeyInput key;
    key.vk = 17;  // VK_CONTROL
    desktop_.sendKey(key);
    key.flags = platform::KEYEVENTF_KEYUP;
    desktop_.sendKey(key);
}

}  // namespace feedback
