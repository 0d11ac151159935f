#include "platform/X11Desktop.h"

#include "platform/ReleaseGuard.h"
#include "platform/X11Display.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <unistd.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

unsigned long X11Desktop::keysymOf(unsigned vk) {
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    switch (vk) {
        case 0x08:
            return XK_BackSpace;
        case 0x09:
            return XK_Tab;
        case 0x0C:
            return XK_Clear;
        case 0x0D:
            return XK_Return;
        case 0x10:
            return XK_Shift_L;
        case 0x11:
            return XK_Control_L;
        case 0x12:
            return XK_Alt_L;
        case 0x13:
            return XK_Pause;
        case 0x14:
            return XK_Caps_Lock;
        case 0x1B:
            return XK_Escape;
        case 0x20:
            return XK_space;
        case 0x21:
            return XK_Prior;
        case 0x22:
            return XK_Next;
        case 0x23:
            return XK_End;
        case 0x24:
            return XK_Home;
        case 0x25:
            return XK_Left;
        case 0x26:
            return XK_Up;
        case 0x27:
            return XK_Right;
        case 0x28:
            return XK_Down;
        case 0x2C:
            return XK_Print;
        case 0x2D:
            return XK_Insert;
        case 0x2E:
            return XK_Delete;
        case 0x5B:
            return XK_Super_L;
        case 0x5C:
            return XK_Super_R;
        case 0x5D:
            return XK_Menu;
        case 0x6A:
            return XK_KP_Multiply;
        case 0x6B:
            return XK_KP_Add;
        case 0x6C:
            return XK_KP_Separator;
        case 0x6D:
            return XK_KP_Subtract;
        case 0x6E:
            return XK_KP_Decimal;
        case 0x6F:
            return XK_KP_Divide;
        case 0x90:
            return XK_Num_Lock;
        case 0x91:
            return XK_Scroll_Lock;
        case 0xA0:
            return XK_Shift_L;
        case 0xA1:
            return XK_Shift_R;
        case 0xA2:
            return XK_Control_L;
        case 0xA3:
            return XK_Control_R;
        case 0xA4:
            return XK_Alt_L;
        case 0xA5:
            return XK_Alt_R;
        case 0xBA:
            return XK_semicolon;
        case 0xBB:
            return XK_equal;
        case 0xBC:
            return XK_comma;
        case 0xBD:
            return XK_minus;
        case 0xBE:
            return XK_period;
        case 0xBF:
            return XK_slash;
        case 0xC0:
            return XK_grave;
        case 0xDB:
            return XK_bracketleft;
        case 0xDC:
            return XK_backslash;
        case 0xDD:
            return XK_bracketright;
        case 0xDE:
            return XK_apostrophe;
        default:
            return 0;
    }
}

struct X11Desktop::Impl {
    std::unique_ptr<ReleaseGuard> guard;
    DisplayPtr display;
    std::mutex mutex;
    // Per keycode: autorepeat was on before the program held the key down.
    std::array<bool, 256> repeatWasOn{};
    std::array<bool, 256> heldByUs{};

    // The keycode for a keysym, binding a spare keycode when the server's
    // keymap has none (F13-F24 on a bare server, for instance).
    KeyCode keycodeFor(KeySym sym) {
        Display* d = display.get();
        KeyCode code = XKeysymToKeycode(d, sym);
        if (code != 0) return code;
        int minCode = 0;
        int maxCode = 0;
        XDisplayKeycodes(d, &minCode, &maxCode);
        int perCode = 0;
        KeySym* map =
            XGetKeyboardMapping(d, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
        if (map == nullptr) return 0;
        int spare = 0;
        for (int c = maxCode; c >= minCode && spare == 0; --c) {
            bool empty = true;
            for (int i = 0; i < perCode; ++i) {
                if (map[(c - minCode) * perCode + i] != NoSymbol) empty = false;
            }
            if (empty) spare = c;
        }
        XFree(map);
        if (spare == 0) return 0;
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(d, spare, 2, syms, 1);
        XSync(d, False);
        return static_cast<KeyCode>(spare);
    }

    void setRepeat(KeyCode code, bool on) {
        XKeyboardControl control{};
        control.key = code;
        control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
        XChangeKeyboardControl(display.get(), KBKey | KBAutoRepeatMode, &control);
    }

    bool repeatIsOn(KeyCode code) {
        XKeyboardState state{};
        XGetKeyboardControl(display.get(), &state);
        const unsigned c = code;
        return (static_cast<unsigned>(state.auto_repeats[c / 8]) & (1u << (c % 8u))) != 0;
    }
};

std::unique_ptr<X11Desktop> X11Desktop::open(const char* displayName, std::string& error,
                                             bool guard) {
    DisplayPtr display(XOpenDisplay(displayName));
    if (!display) {
        const char* name = displayName != nullptr ? displayName : std::getenv("DISPLAY");
        error = std::string("cannot open X display \"") + (name != nullptr ? name : "") + "\"";
        return nullptr;
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        error = "the X server has no XTest extension";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->display = std::move(display);
    if (guard) {
        std::string why;
        impl->guard = ReleaseGuard::start(displayName, why);
        if (!impl->guard) {
            std::fprintf(stderr,
                         "tolvane: crash guard not started (%s): keys held when the program "
                         "is killed may stay down\n",
                         why.c_str());
        }
    }
    return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

X11Desktop::X11Desktop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11Desktop::~X11Desktop() {
    // Give back autorepeat for any key still marked as held.
    std::lock_guard lock(impl_->mutex);
    for (int code = 0; code < 256; ++code) {
        if (impl_->heldByUs[code] && impl_->repeatWasOn[code]) {
            impl_->setRepeat(static_cast<KeyCode>(code), true);
        }
    }
    XSync(impl_->display.get(), False);
}

void X11Desktop::sendKey(const KeyInput& input) {
    const KeySym sym = keysymOf(input.vk);
    if (sym == 0) return;  // pseudo keys (mode switches) reach no application
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display.get();
    const KeyCode code = impl_->keycodeFor(sym);
    if (code == 0) return;
    const bool up = (input.flags & KEYEVENTF_KEYUP) != 0;
    if (!up && !impl_->heldByUs[code]) {
        impl_->repeatWasOn[code] = impl_->repeatIsOn(code);
        impl_->heldByUs[code] = true;
        if (impl_->repeatWasOn[code]) impl_->setRepeat(code, false);
    }
    XTestFakeKeyEvent(d, code, up ? False : True, CurrentTime);
    if (impl_->guard) impl_->guard->key(code, !up, impl_->repeatWasOn[code]);
    if (up && impl_->heldByUs[code]) {
        impl_->heldByUs[code] = false;
        if (impl_->repeatWasOn[code]) impl_->setRepeat(code, true);
    }
    // Wait for the server: once this returns, the key is down (or up) for
    // every other client, before the log line says so.
    XSync(d, False);
}

void X11Desktop::sendMouse(const MouseInput& input) {
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display.get();
    const uint32_t f = input.flags;
    if (f & MOUSEEVENTF_ABSOLUTE) {
        const int screen = DefaultScreen(d);
        const int x = normalisedToPixel(input.dx, DisplayWidth(d, screen));
        const int y = normalisedToPixel(input.dy, DisplayHeight(d, screen));
        XTestFakeMotionEvent(d, screen, x, y, CurrentTime);
    }
    const auto button = [&](uint32_t flag, unsigned number, bool down) {
        if ((f & flag) == 0) return;
        XTestFakeButtonEvent(d, number, down ? True : False, CurrentTime);
        if (impl_->guard) impl_->guard->button(number, down);
    };
    button(MOUSEEVENTF_LEFTDOWN, 1, true);
    button(MOUSEEVENTF_LEFTUP, 1, false);
    button(MOUSEEVENTF_RIGHTDOWN, 3, true);
    button(MOUSEEVENTF_RIGHTUP, 3, false);
    button(MOUSEEVENTF_MIDDLEDOWN, 2, true);
    button(MOUSEEVENTF_MIDDLEUP, 2, false);
    if ((f & MOUSEEVENTF_WHEEL) && input.mouseData != 0) {
        // One press and release of button 4 (up) or 5 (down) per notch.
        const unsigned button = input.mouseData > 0 ? 4 : 5;
        const int notches = std::max(1, std::abs(input.mouseData) / WHEEL_DELTA);
        for (int i = 0; i < notches; ++i) {
            XTestFakeButtonEvent(d, button, True, CurrentTime);
            XTestFakeButtonEvent(d, button, False, CurrentTime);
        }
    }
    // Button changes wait for the server like keys; plain moves, which the
    // cursor worker sends every frame, are only flushed.
    if (f & ~MOUSEEVENTF_ABSOLUTE & ~MOUSEEVENTF_MOVE)
        XSync(d, False);
    else
        XFlush(d);
}

ScreenPoint X11Desktop::cursorPos() {
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display.get();
    XSync(d, False);
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    return {rootX, rootY};
}

ScreenSize X11Desktop::screenSize() {
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display.get();
    const int screen = DefaultScreen(d);
    return {DisplayWidth(d, screen), DisplayHeight(d, screen)};
}

void X11Desktop::sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

int connectionLost(Display*) {
    static const char message[] = "\ntolvane: lost the connection to the X server\n";
    const ssize_t written = write(2, message, sizeof message - 1);
    (void)written;
    _exit(1);
}

}  // namespace

void installConnectionLossHandler() {
    XSetIOErrorHandler(connectionLost);
}

ScreenSize displayScreenSize(ScreenSize fallback) {
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) return fallback;
    const int screen = DefaultScreen(display.get());
    return {DisplayWidth(display.get(), screen), DisplayHeight(display.get(), screen)};
}

}  // namespace platform
