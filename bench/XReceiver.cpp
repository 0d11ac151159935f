#include "bench/XReceiver.h"

#include "platform/X11Display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

struct XReceiver::Impl {
    explicit Impl(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
        if (!display_) return;
        Display* d = display_.get();
        const int screen = DefaultScreen(d);
        window_ = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, DisplayWidth(d, screen),
                                      DisplayHeight(d, screen), 0, 0, 0);
        XSelectInput(d, window_, KeyPressMask | StructureNotifyMask);
        XMapWindow(d, window_);
        XEvent e;
        do {
            XNextEvent(d, &e);
        } while (e.type != MapNotify);
        XSetInputFocus(d, window_, RevertToParent, CurrentTime);
        XSync(d, False);
        thread_ = std::thread([this] { run(); });
    }
    ~Impl() {
        if (thread_.joinable()) {
            stop_ = true;
            // Wake it with an event of its own.
            const platform::DisplayPtr waker(XOpenDisplay(DisplayString(display_.get())));
            if (waker) {
                XEvent e{};
                e.xclient.type = ClientMessage;
                e.xclient.window = window_;
                e.xclient.format = 32;
                XSendEvent(waker.get(), window_, False, NoEventMask, &e);
                XFlush(waker.get());
            }
            thread_.join();
        }
    }
    bool ok() const { return thread_.joinable(); }
    // Waits for the press after `seen` presses; its arrival time.
    bool waitPress(size_t seen, Clock::time_point& at) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(5),
                               [&] { return presses_.size() > seen; }))
            return false;
        at = presses_[seen];
        return true;
    }

    void run() {
        while (!stop_) {
            XEvent e;
            XNextEvent(display_.get(), &e);
            if (e.type == KeyPress && XLookupKeysym(&e.xkey, 0) == XK_Right) {
                const auto now = Clock::now();
                std::lock_guard lock(mutex_);
                presses_.push_back(now);
                arrived_.notify_all();
            }
        }
    }

    platform::DisplayPtr display_;
    Window window_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Clock::time_point> presses_;
};

XReceiver::XReceiver(const std::string& display) : impl_(std::make_unique<Impl>(display)) {}
XReceiver::~XReceiver() = default;
bool XReceiver::ok() const {
    return impl_->ok();
}
bool XReceiver::waitPress(size_t seen, Clock::time_point& at) {
    return impl_->waitPress(seen, at);
}

void xInitThreads() {
    XInitThreads();
}
