// The picture window on a private Xvfb, driven by the feedback logic: its
// place and names for each window code, the pictures on screen as hands come
// and go, staying on top of a window that covers it, no window at all for
// WINDOW_NONE, and the icon property.
#include <gtest/gtest.h>
// After GoogleTest: Xlib's macros (None, Bool) would break its headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <memory>
#include <thread>

#include "feedback/Feedback.h"
#include "platform/RecordingDesktop.h"
#include "platform/X11Display.h"
#include "platform/X11PictureWindow.h"
#include "tests/support/XvfbServer.h"

namespace {

using gesture::FeedbackState;

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

class PictureWindowX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.ok()) GTEST_SKIP() << server.error();
        display.reset(XOpenDisplay(server.display().c_str()));
        ASSERT_TRUE(display);
    }

    // A feedback display on the server, set up with `code`.
    void start(int32_t code) {
        auto owned = std::make_unique<platform::X11PictureWindow>(server.display().c_str());
        window = owned.get();
        feedback = std::make_unique<feedback::Feedback>(std::move(owned), desktop);
        FeedbackState state;
        int32_t hands = 0;
        feedback->setup(code, state, hands);
    }

    Display* d() { return display.get(); }
    Window root() { return DefaultRootWindow(d()); }

    // Whether the screen at the window's place shows `picture` exactly.
    ::testing::AssertionResult shows(int picture, int x, int y) {
        platform::PicturePixels expected{};
        if (!feedback::loadPicture(picture, expected))
            return ::testing::AssertionFailure() << "no picture " << picture;
        const ImagePtr shot(XGetImage(d(), root(), x, y, 128, 128, AllPlanes, ZPixmap));
        if (!shot) return ::testing::AssertionFailure() << "no screenshot";
        for (int row = 0; row < 128; ++row) {
            for (int col = 0; col < 128; ++col) {
                const unsigned long got = XGetPixel(shot.get(), col, row) & 0xFFFFFF;
                if (got != expected[platform::pixelIndex(col, row)])
                    return ::testing::AssertionFailure()
                           << "picture " << picture << ": pixel " << col << "," << row << " is "
                           << std::hex << got;
            }
        }
        return ::testing::AssertionSuccess();
    }

    unsigned long pixelAt(int x, int y) {
        const ImagePtr shot(XGetImage(d(), root(), x, y, 1, 1, AllPlanes, ZPixmap));
        return XGetPixel(shot.get(), 0, 0) & 0xFFFFFF;
    }

    // The mapped top-level windows, bottom first.
    std::vector<Window> stack() {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> mapped;
        if (XQueryTree(d(), root(), &rootReturn, &parent, &children, &count) == 0) return mapped;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(d(), children[i], &a) && a.map_state == IsViewable)
                mapped.push_back(children[i]);
        }
        XFree(children);
        return mapped;
    }

    // Runs frames with `state` until `done` holds, for at most `limitMs`.
    template <typename Done>
    bool runFramesUntil(const FeedbackState& state, int32_t hands, Done done, int limitMs = 2000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            feedback->update(state, hands);
            XSync(d(), False);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    XvfbServer server{1024, 768};
    platform::DisplayPtr display;
    platform::RecordingDesktop desktop;
    platform::X11PictureWindow* window = nullptr;
    std::unique_ptr<feedback::Feedback> feedback;
};

FeedbackState oneHandKeyboard() {
    FeedbackState s;
    s.mode = 1;
    return s;
}

}  // namespace

TEST_F(PictureWindowX11, EachWindowCodePutsTheWindowInItsPlace) {
    struct Case {
        int code, x, y;
    };
    for (const Case c :
         {Case{1, 0, 0}, Case{2, 896, 0}, Case{3, 0, 640}, Case{4, 896, 640}, Case{5, 448, 320}}) {
        start(c.code << 4);
        ASSERT_NE(window->windowId(), 0u) << window->error();
        EXPECT_FALSE(window->managed());
        XWindowAttributes a;
        ASSERT_TRUE(XGetWindowAttributes(d(), window->windowId(), &a));
        EXPECT_EQ(a.x, c.x) << c.code;
        EXPECT_EQ(a.y, c.y) << c.code;
        EXPECT_EQ(a.width, 128);
        EXPECT_EQ(a.height, 128);
        EXPECT_EQ(a.map_state, IsViewable);
        EXPECT_TRUE(a.override_redirect);  // no window manager here
        EXPECT_TRUE(shows(0, c.x, c.y)) << c.code;

        char* name = nullptr;
        ASSERT_TRUE(XFetchName(d(), window->windowId(), &name));
        EXPECT_STREQ(name, "Tolvane (Info Window)");
        XFree(name);
        XClassHint hint{};
        ASSERT_TRUE(XGetClassHint(d(), window->windowId(), &hint));
        EXPECT_STREQ(hint.res_class, "Tolvane_Info");
        XFree(hint.res_name);
        XFree(hint.res_class);

        // Only the centred window asks for translucency: 160 of 255.
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(d(), window->windowId(),
                           XInternAtom(d(), "_NET_WM_WINDOW_OPACITY", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data);
        if (c.code == 5) {
            ASSERT_EQ(count, 1u);
            // Xlib hands format-32 items back as (sign-extended) longs.
            EXPECT_EQ(*reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFFul, 0xA0A0A0A0ul);
        } else {
            EXPECT_EQ(count, 0u) << c.code;
        }
        if (data != nullptr) XFree(data);
        feedback.reset();
        XSync(d(), False);
    }
}

TEST_F(PictureWindowX11, PicturesFollowTheHandsAndTheWindowStaysOnTop) {
    start(0x40);  // bottom right
    const int x = 896, y = 640;
    ASSERT_TRUE(shows(0, x, y));

    // A hand appears: picture 1, on top.
    feedback->update(oneHandKeyboard(), 1);
    XSync(d(), False);
    EXPECT_TRUE(shows(1, x, y));
    EXPECT_EQ(stack().back(), window->windowId());

    // Another window covers the screen: the picture window comes back on top.
    const Window cover = XCreateSimpleWindow(d(), root(), 0, 0, 1024, 768, 0, 0, 0x2040C0);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(d(), cover, CWOverrideRedirect, &attributes);
    XMapRaised(d(), cover);
    XSync(d(), False);
    EXPECT_TRUE(
        runFramesUntil(oneHandKeyboard(), 1, [&] { return stack().back() == window->windowId(); }));
    EXPECT_TRUE(shows(1, x, y));

    // The hand turns active while moving: picture 3.
    FeedbackState active = oneHandKeyboard();
    active.active = 1;
    feedback->update(active, 1);
    XSync(d(), False);
    EXPECT_TRUE(shows(3, x, y));

    // The hand leaves: the window goes under the covering window, with picture 0.
    feedback->update(oneHandKeyboard(), 0);
    XSync(d(), False);
    EXPECT_FALSE(runFramesUntil(
        oneHandKeyboard(), 0, [&] { return stack().back() == window->windowId(); }, 200));
    EXPECT_EQ(stack().front(), window->windowId());
    EXPECT_EQ(pixelAt(x + 64, y + 64), 0x2040C0u);
    XUnmapWindow(d(), cover);
    XSync(d(), False);
    EXPECT_TRUE(shows(0, x, y));

    // Two hands: picture 7.
    feedback->update(oneHandKeyboard(), 2);
    XSync(d(), False);
    EXPECT_TRUE(shows(7, x, y));
    XDestroyWindow(d(), cover);
}

TEST_F(PictureWindowX11, WindowNoneCreatesNoWindow) {
    const size_t before = stack().size();
    start(0x01);
    feedback->update(oneHandKeyboard(), 1);
    feedback->update(oneHandKeyboard(), 0);
    XSync(d(), False);
    EXPECT_EQ(window->windowId(), 0u);
    EXPECT_EQ(stack().size(), before);
}

TEST_F(PictureWindowX11, IconGoesOnAnyWindow) {
    const Window target = XCreateSimpleWindow(d(), root(), 0, 0, 50, 50, 0, 0, 0);
    XSync(d(), False);
    platform::PicturePixels icon{};
    ASSERT_TRUE(feedback::loadIcon(icon));
    ASSERT_TRUE(platform::setX11WindowIcon(server.display().c_str(), target, icon));

    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(d(), target, XInternAtom(d(), "_NET_WM_ICON", False), 0, 1 << 20, False,
                       XA_CARDINAL, &type, &format, &count, &after, &data);
    ASSERT_EQ(count, 2u + 128 * 128);
    const auto* values = reinterpret_cast<unsigned long*>(data);
    EXPECT_EQ(values[0], 128u);
    EXPECT_EQ(values[1], 128u);
    EXPECT_EQ(values[2 + 60 * 128 + 52] & 0xFFFFFFFFul, 0xFF000000ul | icon[60 * 128 + 52]);
    XFree(data);

    // A window that does not exist is refused, not fatal.
    EXPECT_FALSE(platform::setX11WindowIcon(server.display().c_str(), target + 1000, icon));
}
