#include "tests/support/XClient.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <thread>

struct XClient::Impl {
    Display* display = nullptr;
    Window window = 0;
    std::vector<XClientEvent> events;
};

XClient::XClient(const std::string& display) : impl_(std::make_unique<Impl>()) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return;
    impl_->display = d;
    const int screen = DefaultScreen(d);
    impl_->window = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, DisplayWidth(d, screen),
                                        DisplayHeight(d, screen), 0, 0, 0);
    XSelectInput(
        d, impl_->window,
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    XMapWindow(d, impl_->window);
    XEvent e;
    do {
        XNextEvent(d, &e);
    } while (e.type != MapNotify);
    XSetInputFocus(d, impl_->window, RevertToParent, CurrentTime);
    // Load the keymap before any key arrives.
    XKeyEvent k{};
    k.display = d;
    k.keycode = XKeysymToKeycode(d, 'a');
    char buf[8];
    KeySym sym = 0;
    XLookupString(&k, buf, sizeof buf, &sym, nullptr);
    XSync(d, False);
}

XClient::~XClient() {
    if (impl_->display != nullptr) XCloseDisplay(impl_->display);
}

bool XClient::ok() const {
    return impl_->display != nullptr;
}

std::vector<XClientEvent> XClient::waitFor(size_t count, int timeoutMs) {
    Display* d = impl_->display;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (impl_->events.size() < count && std::chrono::steady_clock::now() < deadline) {
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MappingNotify) {
                XRefreshKeyboardMapping(&e.xmapping);
            } else if (e.type == KeyPress || e.type == KeyRelease) {
                XClientEvent ev{e.type == KeyPress ? XClientEvent::Type::KeyDown
                                                   : XClientEvent::Type::KeyUp};
                ev.keysym = XLookupKeysym(&e.xkey, 0);
                impl_->events.push_back(ev);
            } else if (e.type == ButtonPress || e.type == ButtonRelease) {
                XClientEvent ev{e.type == ButtonPress ? XClientEvent::Type::ButtonDown
                                                      : XClientEvent::Type::ButtonUp};
                ev.button = e.xbutton.button;
                ev.x = e.xbutton.x_root;
                ev.y = e.xbutton.y_root;
                impl_->events.push_back(ev);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return impl_->events;
}

void XClient::pointer(int& x, int& y) {
    Display* d = impl_->display;
    XSync(d, False);
    Window root = 0;
    Window child = 0;
    int wx = 0;
    int wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
}

bool XClient::autoRepeat(unsigned long keysym) {
    Display* d = impl_->display;
    const KeyCode code = XKeysymToKeycode(d, keysym);
    XKeyboardState state{};
    XGetKeyboardControl(d, &state);
    return (state.auto_repeats[code / 8] & (1 << (code % 8))) != 0;
}

bool XClient::keyIsDown(unsigned long keysym) {
    Display* d = impl_->display;
    XSync(d, False);
    char keys[32];
    XQueryKeymap(d, keys);
    const KeyCode code = XKeysymToKeycode(d, keysym);
    return (keys[code / 8] & (1 << (code % 8))) != 0;
}

bool XClient::buttonIsDown() {
    Display* d = impl_->display;
    XSync(d, False);
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int wx = 0;
    int wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
    return (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
}

namespace {

Window findTitled(Display* d, Window w, const std::string& title) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) != 0 && name != nullptr) {
        const bool match = title == name;
        XFree(name);
        if (match) return w;
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count) == 0) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) found = findTitled(d, children[i], title);
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

bool XClient::typeInto(const std::string& title, unsigned long keysym) {
    Display* d = impl_->display;
    const Window w = findTitled(d, DefaultRootWindow(d), title);
    if (w == 0) return false;
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    const KeyCode code = XKeysymToKeycode(d, keysym);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XSync(d, False);
    return true;
}

void XClient::focus() {
    XSetInputFocus(impl_->display, impl_->window, RevertToParent, CurrentTime);
    XSync(impl_->display, False);
}

std::vector<uint32_t> windowPixels(const std::string& display, const std::string& title) {
    std::vector<uint32_t> pixels;
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return pixels;
    // A window that is mapped, resized or closed between the calls makes
    // the reading fail with an X error, which Xlib's default handler turns
    // into the end of the process: then the picture is empty, to be asked
    // for again.
    static bool failed = false;
    failed = false;
    const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) {
        failed = true;
        return 0;
    });
    const Window root = DefaultRootWindow(d);
    const Window w = findTitled(d, root, title);
    XWindowAttributes a{};
    int left = 0;
    int top = 0;
    Window child = 0;
    if (w != 0 && XGetWindowAttributes(d, w, &a) != 0 && a.map_state == IsViewable &&
        XTranslateCoordinates(d, w, root, 0, 0, &left, &top, &child) != 0) {
        // Only the part on the screen can be read (a window placed at -1, -1
        // has its first row and column off it); the rest stays 0.
        const int x0 = std::max(0, -left);
        const int y0 = std::max(0, -top);
        const int x1 = std::min(a.width, DisplayWidth(d, DefaultScreen(d)) - left);
        const int y1 = std::min(a.height, DisplayHeight(d, DefaultScreen(d)) - top);
        XImage* image = x0 < x1 && y0 < y1
                            ? XGetImage(d, w, x0, y0, static_cast<unsigned>(x1 - x0),
                                        static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap)
                            : nullptr;
        if (image != nullptr) {
            pixels.assign(static_cast<size_t>(a.width) * static_cast<size_t>(a.height), 0);
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    pixels[static_cast<size_t>(y) * static_cast<size_t>(a.width) +
                           static_cast<size_t>(x)] =
                        static_cast<uint32_t>(XGetPixel(image, x - x0, y - y0) & 0xFFFFFFu);
                }
            }
            XDestroyImage(image);
        }
    }
    XSync(d, False);
    XSetErrorHandler(previous);
    XCloseDisplay(d);
    if (failed) pixels.clear();
    return pixels;
}
