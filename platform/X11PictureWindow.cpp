#include "platform/X11PictureWindow.h"

#include "platform/X11Display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <cstdio>
#include <vector>

namespace platform {
namespace {

// A server-side resource named by an XID (window, pixmap), freed with the
// function given.
class XidHandle {
  public:
    using Free = int (*)(Display*, XID);
    XidHandle() = default;
    XidHandle(Display* display, XID id, Free free) : display_(display), id_(id), free_(free) {}
    ~XidHandle() { reset(); }
    XidHandle(XidHandle&& other) noexcept { *this = std::move(other); }
    XidHandle& operator=(XidHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            id_ = other.id_;
            free_ = other.free_;
            other.id_ = 0;
        }
        return *this;
    }
    XidHandle(const XidHandle&) = delete;
    XidHandle& operator=(const XidHandle&) = delete;

    XID get() const { return id_; }
    explicit operator bool() const { return id_ != 0; }

  private:
    void reset() {
        if (id_ != 0 && free_ != nullptr) free_(display_, id_);
        id_ = 0;
    }

    Display* display_ = nullptr;
    XID id_ = 0;
    Free free_ = nullptr;
};

struct GcFreer {
    Display* display = nullptr;
    void operator()(GC gc) const {
        if (gc != nullptr) XFreeGC(display, gc);
    }
};
using GcPtr = std::unique_ptr<std::remove_pointer_t<GC>, GcFreer>;

// The image's pixel memory belongs to the window object, not to Xlib.
struct ImageDestroyer {
    void operator()(XImage* image) const {
        if (image == nullptr) return;
        image->data = nullptr;
        XDestroyImage(image);
    }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

struct XFreer {
    void operator()(unsigned char* data) const {
        if (data != nullptr) XFree(data);
    }
};
using XDataPtr = std::unique_ptr<unsigned char, XFreer>;

// Catches the protocol errors of the requests made while it exists, instead
// of letting Xlib's default handler end the process. Main thread only.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);
        lastError() = 0;
        previous_ = XSetErrorHandler(&record);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed() {
        XSync(display_, False);
        return lastError() != 0;
    }

  private:
    static int& lastError() {
        static int code = 0;
        return code;
    }
    static int record(Display*, XErrorEvent* event) {
        lastError() = event->error_code;
        return 0;
    }

    Display* display_;
    XErrorHandler previous_ = nullptr;
};

// A window-valued property, or 0.
Window windowProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &after, &raw) != Success)
        return 0;
    const XDataPtr data(raw);
    if (type != XA_WINDOW || format != 32 || count != 1 || !data) return 0;
    return *reinterpret_cast<const unsigned long*>(data.get());
}

// An EWMH window manager names a child window of its own on the root window,
// and that window names itself.
bool windowManagerRunning(Display* display, Window root) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const Window child = windowProperty(display, root, check);
    if (child == 0) return false;
    ErrorTrap trap(display);
    const Window self = windowProperty(display, child, check);
    return !trap.failed() && self == child;
}

enum AtomIndex {
    kNetWmName,
    kUtf8String,
    kNetWmWindowType,
    kNetWmWindowTypeUtility,
    kNetWmState,
    kNetWmStateAbove,
    kNetWmStateSkipTaskbar,
    kNetWmStateSkipPager,
    kNetWmWindowOpacity,
    kMotifWmHints,
    kAtomCount
};
const char* atomNames[kAtomCount] = {
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_STATE_SKIP_PAGER",
    "_NET_WM_WINDOW_OPACITY",
    "_MOTIF_WM_HINTS",
};

// One colour channel's values for every 8-bit level, for a visual's mask.
std::array<unsigned long, 256> channelTable(unsigned long mask) {
    std::array<unsigned long, 256> table{};
    if (mask == 0) return table;
    const int shift = __builtin_ctzl(mask);
    const unsigned long top = mask >> shift;  // all ones, as wide as the channel
    for (unsigned long level = 0; level < 256; ++level)
        table[level] = ((level * top + 127) / 255) << shift;
    return table;
}

}  // namespace

struct X11PictureWindow::Impl {
    std::string displayName;
    bool hasDisplayName = false;
    bool connectTried = false;
    std::string error;

    // Declared first, so it closes after everything made on it is freed.
    DisplayPtr display;
    XidHandle pixmap;
    XidHandle window;
    GcPtr gc;
    ImagePtr image;
    // The image's pixel memory: room for 32 bits per pixel, the most any
    // depth-24 (or smaller) ZPixmap format needs.
    PicturePixels imageData{};

    Window root = 0;
    int width = kPictureSide;
    int height = kPictureSide;
    bool trueColour = true;
    std::array<unsigned long, 256> red{}, green{}, blue{};
    unsigned long black = 0, white = 0;
    std::array<Atom, kAtomCount> atoms{};
    bool managed = false;
    bool onTop = false;

    bool connect() {
        if (!connectTried) {
            connectTried = true;
            display.reset(XOpenDisplay(hasDisplayName ? displayName.c_str() : nullptr));
            if (!display) {
                error = "cannot open X display";
                if (hasDisplayName) error += " " + displayName;
            }
        }
        return display != nullptr;
    }

    unsigned long pixelOf(uint32_t rgb) const {
        const uint32_t r = (rgb >> 16) & 0xFF;
        const uint32_t g = (rgb >> 8) & 0xFF;
        const uint32_t b = rgb & 0xFF;
        if (trueColour) return red[r] | green[g] | blue[b];
        return r * 30 + g * 59 + b * 11 >= 128 * 100 ? white : black;
    }

    // Asks the window manager to add (1) or remove (0) a state of the mapped window.
    void changeState(long action, Atom state) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window.get();
        event.xclient.message_type = atoms[kNetWmState];
        event.xclient.format = 32;
        event.xclient.data.l[0] = action;
        event.xclient.data.l[1] = static_cast<long>(state);
        event.xclient.data.l[3] = 1;  // from a normal application
        XSendEvent(display.get(), root, False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    }

    void setProperties(const PictureWindowSettings& settings) {
        Display* d = display.get();
        const Window w = window.get();

        XSizeHints size{};
        size.flags = USPosition | USSize | PMinSize | PMaxSize | PWinGravity;
        size.x = settings.x;
        size.y = settings.y;
        size.width = size.min_width = size.max_width = width;
        size.height = size.min_height = size.max_height = height;
        size.win_gravity = NorthWestGravity;
        XSetWMNormalHints(d, w, &size);

        // Never takes the keyboard focus.
        XWMHints hints{};
        hints.flags = InputHint | StateHint;
        hints.input = False;
        hints.initial_state = NormalState;
        XSetWMHints(d, w, &hints);

        std::string name = settings.className;
        std::string className = settings.className;
        XClassHint classHint{name.data(), className.data()};
        XSetClassHint(d, w, &classHint);

        XStoreName(d, w, settings.title);
        const std::string title = settings.title;
        XChangeProperty(d, w, atoms[kNetWmName], atoms[kUtf8String], 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()),
                        static_cast<int>(title.size()));

        const Atom type = atoms[kNetWmWindowTypeUtility];
        XChangeProperty(d, w, atoms[kNetWmWindowType], XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&type), 1);
        const std::array<Atom, 2> state = {atoms[kNetWmStateSkipTaskbar],
                                           atoms[kNetWmStateSkipPager]};
        XChangeProperty(d, w, atoms[kNetWmState], XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(state.data()),
                        static_cast<int>(state.size()));
        // Motif hints: flags = decorations given, decorations = none.
        const std::array<long, 5> motif = {2, 0, 0, 0, 0};
        XChangeProperty(d, w, atoms[kMotifWmHints], atoms[kMotifWmHints], 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(motif.data()),
                        static_cast<int>(motif.size()));

        if (settings.alpha < 255) {
            const int alpha = settings.alpha < 0 ? 0 : settings.alpha;
            const unsigned long opacity = static_cast<unsigned long>(alpha) * 0x01010101ul;
            XChangeProperty(d, w, atoms[kNetWmWindowOpacity], XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&opacity), 1);
        }
    }
};

X11PictureWindow::X11PictureWindow(const char* displayName) : impl_(std::make_unique<Impl>()) {
    if (displayName != nullptr) {
        impl_->displayName = displayName;
        impl_->hasDisplayName = true;
    }
}

X11PictureWindow::~X11PictureWindow() = default;

ScreenSize X11PictureWindow::screenSize() {
    if (!impl_->connect()) return {};
    Display* d = impl_->display.get();
    const int screen = DefaultScreen(d);
    return {DisplayWidth(d, screen), DisplayHeight(d, screen)};
}

bool X11PictureWindow::create(const PictureWindowSettings& settings) {
    Impl& m = *impl_;
    if (m.window) return true;
    if (!m.connect()) {
        std::fprintf(stderr, "picture window: %s\n", m.error.c_str());
        return false;
    }
    if (settings.width <= 0 || settings.width > kPictureSide || settings.height <= 0 ||
        settings.height > kPictureSide) {
        m.error = "picture window size out of range";
        return false;
    }
    Display* d = m.display.get();
    const int screen = DefaultScreen(d);
    m.root = RootWindow(d, screen);
    m.width = settings.width;
    m.height = settings.height;
    Visual* visual = DefaultVisual(d, screen);
    const int depth = DefaultDepth(d, screen);

    XInternAtoms(d, const_cast<char**>(atomNames), kAtomCount, False, m.atoms.data());
    m.managed = windowManagerRunning(d, m.root);

    m.image.reset(XCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                               reinterpret_cast<char*>(m.imageData.data()),
                               static_cast<unsigned>(m.width), static_cast<unsigned>(m.height), 32,
                               0));
    if (!m.image || static_cast<size_t>(m.image->bytes_per_line) * m.height >
                        m.imageData.size() * sizeof(uint32_t)) {
        m.image.reset();
        m.error = "no image format for the screen's depth";
        std::fprintf(stderr, "picture window: %s\n", m.error.c_str());
        return false;
    }
    m.trueColour = visual->c_class == TrueColor || visual->c_class == DirectColor;
    m.red = channelTable(visual->red_mask);
    m.green = channelTable(visual->green_mask);
    m.blue = channelTable(visual->blue_mask);
    m.black = BlackPixel(d, screen);
    m.white = WhitePixel(d, screen);

    m.pixmap =
        XidHandle(d,
                  XCreatePixmap(d, m.root, static_cast<unsigned>(m.width),
                                static_cast<unsigned>(m.height), static_cast<unsigned>(depth)),
                  &XFreePixmap);
    m.gc = GcPtr(XCreateGC(d, m.pixmap.get(), 0, nullptr), GcFreer{d});
    XSetForeground(d, m.gc.get(), m.black);
    XFillRectangle(d, m.pixmap.get(), m.gc.get(), 0, 0, static_cast<unsigned>(m.width),
                   static_cast<unsigned>(m.height));

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = m.pixmap.get();
    attributes.border_pixel = m.black;
    attributes.override_redirect = m.managed ? False : True;
    attributes.event_mask = VisibilityChangeMask | StructureNotifyMask;
    attributes.colormap = DefaultColormap(d, screen);
    m.window = XidHandle(
        d,
        XCreateWindow(d, m.root, settings.x, settings.y, static_cast<unsigned>(m.width),
                      static_cast<unsigned>(m.height), 0, depth, InputOutput, visual,
                      CWBackPixmap | CWBorderPixel | CWOverrideRedirect | CWEventMask | CWColormap,
                      &attributes),
        &XDestroyWindow);
    m.setProperties(settings);
    m.onTop = false;
    XMapWindow(d, m.window.get());
    XSync(d, False);
    return true;
}

void X11PictureWindow::lowerToBottom() {
    Impl& m = *impl_;
    if (!m.window) return;
    m.onTop = false;
    if (m.managed) m.changeState(0, m.atoms[kNetWmStateAbove]);
    XLowerWindow(m.display.get(), m.window.get());
    XSync(m.display.get(), False);
}

void X11PictureWindow::raiseToTop() {
    Impl& m = *impl_;
    if (!m.window) return;
    m.onTop = true;
    if (m.managed) m.changeState(1, m.atoms[kNetWmStateAbove]);
    XMapRaised(m.display.get(), m.window.get());
    XSync(m.display.get(), False);
}

void X11PictureWindow::draw(const PicturePixels& pixels) {
    Impl& m = *impl_;
    if (!m.window) return;
    Display* d = m.display.get();
    for (int y = 0; y < m.height; ++y) {
        for (int x = 0; x < m.width; ++x)
            XPutPixel(m.image.get(), x, y, m.pixelOf(pixels[pixelIndex(x, y)]));
    }
    XPutImage(d, m.pixmap.get(), m.gc.get(), m.image.get(), 0, 0, 0, 0,
              static_cast<unsigned>(m.width), static_cast<unsigned>(m.height));
    // Setting the background again makes the server take the new contents.
    XSetWindowBackgroundPixmap(d, m.window.get(), m.pixmap.get());
    XClearWindow(d, m.window.get());
    XSync(d, False);
}

void X11PictureWindow::processEvents() {
    Impl& m = *impl_;
    if (!m.window) return;
    Display* d = m.display.get();
    bool covered = false;
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.type == VisibilityNotify && event.xvisibility.window == m.window.get())
            covered = event.xvisibility.state != VisibilityUnobscured;
    }
    // Without a window manager nobody else keeps the window on top.
    if (covered && m.onTop && !m.managed) {
        XRaiseWindow(d, m.window.get());
        XFlush(d);
    }
}

unsigned long X11PictureWindow::windowId() const {
    return impl_->window.get();
}

bool X11PictureWindow::managed() const {
    return impl_->managed;
}

const std::string& X11PictureWindow::error() const {
    return impl_->error;
}

bool setX11WindowIcon(const char* displayName, unsigned long window, const PicturePixels& icon) {
    const DisplayPtr display(XOpenDisplay(displayName));
    if (!display) return false;
    Display* d = display.get();
    // Width, height, then ARGB pixels row by row, each in a long (format 32).
    std::vector<unsigned long> data;
    data.reserve(2 + icon.size());
    data.push_back(kPictureSide);
    data.push_back(kPictureSide);
    for (const uint32_t rgb : icon) data.push_back(0xFF000000ul | rgb);
    const Atom property = XInternAtom(d, "_NET_WM_ICON", False);
    ErrorTrap trap(d);
    XChangeProperty(d, window, property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
    return !trap.failed();
}

}  // namespace platform
