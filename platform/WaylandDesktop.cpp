#include "platform/WaylandDesktop.h"

#include "platform/EvdevKeys.h"
#include "platform/ReleaseGuard.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace platform {

// The crash guard writes these requests itself.
static_assert(ZWP_VIRTUAL_KEYBOARD_V1_KEY == kWireKeyOpcode);
static_assert(ZWP_VIRTUAL_KEYBOARD_V1_MODIFIERS == kWireModifiersOpcode);
static_assert(ZWLR_VIRTUAL_POINTER_V1_BUTTON == kWireButtonOpcode);
static_assert(ZWLR_VIRTUAL_POINTER_V1_FRAME == kWireFrameOpcode);

namespace {

constexpr ScreenSize kNoOutputSize{1920, 1080};
// A wheel notch, in the axis units of wl_pointer (what libinput reports).
constexpr double kNotchAxis = 15.0;

template <typename T, void (*Destroy)(T*)>
struct Deleter {
    void operator()(T* p) const {
        if (p != nullptr) Destroy(p);
    }
};
template <typename T, void (*Destroy)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Destroy>>;

using DisplayPtr = Owned<wl_display, wl_display_disconnect>;
using RegistryPtr = Owned<wl_registry, wl_registry_destroy>;
using SeatPtr = Owned<wl_seat, wl_seat_destroy>;
using OutputPtr = Owned<wl_output, wl_output_destroy>;
using KeyboardManagerPtr =
    Owned<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy>;
using PointerManagerPtr =
    Owned<zwlr_virtual_pointer_manager_v1, zwlr_virtual_pointer_manager_v1_destroy>;
using KeyboardPtr = Owned<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy>;
using PointerPtr = Owned<zwlr_virtual_pointer_v1, zwlr_virtual_pointer_v1_destroy>;
using XkbContextPtr = Owned<xkb_context, xkb_context_unref>;
using XkbKeymapPtr = Owned<xkb_keymap, xkb_keymap_unref>;
using XkbStatePtr = Owned<xkb_state, xkb_state_unref>;

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int f) : fd(f) {}
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// The first output's current mode, kept up to date by its events.
struct OutputState {
    OutputPtr output;
    ScreenSize size{};

    static void geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t,
                         const char*, const char*, int32_t) {}
    static void mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                     int32_t) {
        if ((flags & WL_OUTPUT_MODE_CURRENT) == 0 || width <= 0 || height <= 0) return;
        static_cast<OutputState*>(data)->size = {width, height};
    }
    static void done(void*, wl_output*) {}
    static void scale(void*, wl_output*, int32_t) {}
    static void name(void*, wl_output*, const char*) {}
    static void description(void*, wl_output*, const char*) {}
    static constexpr wl_output_listener listener{geometry, mode, done, scale, name, description};

    void bind(wl_registry* registry, uint32_t id, uint32_t version) {
        if (output) return;
        output.reset(static_cast<wl_output*>(
            wl_registry_bind(registry, id, &wl_output_interface, std::min(version, 2u))));
        wl_output_add_listener(output.get(), &listener, this);
    }
    ScreenSize sizeOr(ScreenSize fallback) const { return size.width > 0 ? size : fallback; }
};

// The name of the process at the other end of the connection.
std::string peerName(wl_display* display) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(wl_display_get_fd(display), SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 &&
        cred.pid > 0) {
        std::ifstream comm("/proc/" + std::to_string(cred.pid) + "/comm");
        std::string name;
        if (std::getline(comm, name) && !name.empty()) return name;
    }
    if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP"); desktop && *desktop) {
        return desktop;
    }
    return "compositor";
}

std::string connectError(const char* displayName) {
    const int why = errno;
    const char* name = displayName != nullptr ? displayName : std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0')
        return "no Wayland compositor (WAYLAND_DISPLAY is not set)";
    return std::string("cannot connect to the Wayland compositor \"") + name +
           "\": " + std::strerror(why);
}

// The US layout (the evdev rules' pc105 "us"), with the keys that layout
// gives other meanings named as the key table means them: F13 to F24 (media
// keys there), Clear and the keypad separator.
std::string keymapSource(xkb_context* context) {
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    const XkbKeymapPtr base(
        xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!base) return "";
    std::string symbols;
    const auto name = [&](uint16_t code, const char* keysym) {
        const char* key = xkb_keymap_key_get_name(base.get(), code + 8u);
        if (key != nullptr) symbols += std::string("key <") + key + "> { [ " + keysym + " ] };\n";
    };
    static const char* const functionKeys[] = {"F13", "F14", "F15", "F16", "F17", "F18",
                                               "F19", "F20", "F21", "F22", "F23", "F24"};
    for (unsigned i = 0; i < 12; ++i) name(evdevKeyOf(0x7C + i), functionKeys[i]);
    name(evdevKeyOf(0x0C), "Clear");
    name(evdevKeyOf(0x6C), "KP_Separator");
    return "xkb_keymap {\n"
           "xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
           "xkb_types { include \"complete\" };\n"
           "xkb_compat { include \"complete\" };\n"
           "xkb_symbols { include \"pc+us+inet(evdev)\"\n" +
           symbols +
           "};\n"
           "};\n";
}

[[noreturn]] void connectionLost() {
    static const char message[] = "\ntolvane: lost the connection to the Wayland compositor\n";
    const ssize_t written = write(2, message, sizeof message - 1);
    (void)written;
    _exit(1);
}

}  // namespace

struct WaylandDesktop::Impl {
    // Declared first, so that it is disconnected after every object on it.
    DisplayPtr display;
    RegistryPtr registry;
    SeatPtr seat;
    OutputState output;
    KeyboardManagerPtr keyboardManager;
    PointerManagerPtr pointerManager;
    KeyboardPtr keyboard;
    PointerPtr pointer;
    XkbContextPtr context;
    XkbKeymapPtr keymap;
    XkbStatePtr state;
    std::string compositor;
    std::unique_ptr<ReleaseGuard> guard;

    std::mutex mutex;
    ScreenPoint cursor;

    static void global(void* data, wl_registry* registry, uint32_t id, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<Impl*>(data);
        const auto is = [&](const wl_interface& i) { return std::strcmp(interface, i.name) == 0; };
        if (is(wl_seat_interface) && !self->seat) {
            self->seat.reset(
                static_cast<wl_seat*>(wl_registry_bind(registry, id, &wl_seat_interface, 1)));
        } else if (is(wl_output_interface)) {
            self->output.bind(registry, id, version);
        } else if (is(zwp_virtual_keyboard_manager_v1_interface) && !self->keyboardManager) {
            self->keyboardManager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, id, &zwp_virtual_keyboard_manager_v1_interface, 1)));
        } else if (is(zwlr_virtual_pointer_manager_v1_interface) && !self->pointerManager) {
            self->pointerManager.reset(static_cast<zwlr_virtual_pointer_manager_v1*>(
                wl_registry_bind(registry, id, &zwlr_virtual_pointer_manager_v1_interface, 1)));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener registryListener{global, globalRemove};

    // Milliseconds of the monotonic clock, which the crash guard uses too.
    static uint32_t now() {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }

    // Waits until the compositor has handled every request so far.
    void roundtrip() {
        if (wl_display_roundtrip(display.get()) < 0) connectionLost();
    }
    void flush() {
        if (wl_display_flush(display.get()) < 0 && errno != EAGAIN) connectionLost();
    }

    // Builds the US keymap and uploads it to the virtual keyboard.
    bool uploadKeymap(std::string& error) {
        context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        const std::string source = context ? keymapSource(context.get()) : "";
        if (!source.empty()) {
            keymap.reset(xkb_keymap_new_from_string(context.get(), source.c_str(),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
        }
        if (keymap) state.reset(xkb_state_new(keymap.get()));
        if (!state) {
            error = "xkbcommon cannot build a US keymap (is xkb-data installed?)";
            return false;
        }
        const std::unique_ptr<char, decltype(&std::free)> text(
            xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
        const FileDescriptor file(memfd_create("tolvane-keymap", MFD_CLOEXEC));
        if (!text || file.fd < 0) {
            error = std::string("cannot hold the keymap: ") + std::strerror(errno);
            return false;
        }
        const size_t size = std::strlen(text.get()) + 1;
        size_t written = 0;
        while (written < size) {
            const ssize_t n = write(file.fd, text.get() + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = std::string("cannot hold the keymap: ") + std::strerror(errno);
                return false;
            }
            written += static_cast<size_t>(n);
        }
        // The request carries a duplicate of the descriptor.
        zwp_virtual_keyboard_v1_keymap(keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, file.fd,
                                       static_cast<uint32_t>(size));
        return true;
    }
};

std::unique_ptr<WaylandDesktop> WaylandDesktop::open(const char* displayName, std::string& error,
                                                     bool guard) {
    auto impl = std::make_unique<Impl>();
    impl->display.reset(wl_display_connect(displayName));
    if (!impl->display) {
        error = connectError(displayName);
        return nullptr;
    }
    impl->compositor = peerName(impl->display.get());
    impl->registry.reset(wl_display_get_registry(impl->display.get()));
    wl_registry_add_listener(impl->registry.get(), &Impl::registryListener, impl.get());
    // The first round trip announces the globals, the second the output's mode.
    if (wl_display_roundtrip(impl->display.get()) < 0 ||
        wl_display_roundtrip(impl->display.get()) < 0) {
        error = "the Wayland compositor closed the connection";
        return nullptr;
    }
    const std::string who = "the Wayland compositor (" + impl->compositor + ")";
    if (!impl->keyboardManager || !impl->pointerManager) {
        error = who + " offers no " +
                (!impl->keyboardManager ? "zwp_virtual_keyboard_manager_v1 (virtual keyboard)"
                                        : "zwlr_virtual_pointer_manager_v1 (virtual pointer)");
        return nullptr;
    }
    if (!impl->seat) {
        error = who + " has no seat";
        return nullptr;
    }
    impl->keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        impl->keyboardManager.get(), impl->seat.get()));
    impl->pointer.reset(zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
        impl->pointerManager.get(), impl->seat.get()));
    if (!impl->uploadKeymap(error)) return nullptr;
    if (wl_display_roundtrip(impl->display.get()) < 0) {
        error = who + " refused a virtual keyboard or pointer (" +
                std::strerror(wl_display_get_error(impl->display.get())) + ")";
        return nullptr;
    }
    if (guard) {
        std::string why;
        impl->guard = ReleaseGuard::startWayland(
            wl_display_get_fd(impl->display.get()),
            wl_proxy_get_id(reinterpret_cast<wl_proxy*>(impl->keyboard.get())),
            wl_proxy_get_id(reinterpret_cast<wl_proxy*>(impl->pointer.get())), why);
        if (!impl->guard) {
            std::fprintf(stderr,
                         "tolvane: crash guard not started (%s): buttons held when the program "
                         "is killed may stay down\n",
                         why.c_str());
        }
    }
    const ScreenSize screen = impl->output.sizeOr(kNoOutputSize);
    impl->cursor = {screen.width / 2, screen.height / 2};
    return std::unique_ptr<WaylandDesktop>(new WaylandDesktop(std::move(impl)));
}

WaylandDesktop::WaylandDesktop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WaylandDesktop::~WaylandDesktop() {
    std::lock_guard lock(impl_->mutex);
    // The guard goes first: it may still write on the connection.
    impl_->guard.reset();
    // Remove the devices before disconnecting, and wait until they are gone.
    impl_->keyboard.reset();
    impl_->pointer.reset();
    if (wl_display_roundtrip(impl_->display.get()) < 0) return;
}

const std::string& WaylandDesktop::compositor() const {
    return impl_->compositor;
}

void WaylandDesktop::sendKey(const KeyInput& input) {
    const uint16_t key = evdevKeyOf(input.vk);
    if (key == 0) return;  // pseudo keys (mode switches) reach no application
    const bool up = (input.flags & KEYEVENTF_KEYUP) != 0;
    std::lock_guard lock(impl_->mutex);
    Impl& s = *impl_;
    // xkbcommon key codes are evdev codes + 8. The compositor does not work
    // the modifiers out from the keys of a virtual keyboard: send them.
    const xkb_state_component changed =
        xkb_state_update_key(s.state.get(), key + 8u, up ? XKB_KEY_UP : XKB_KEY_DOWN);
    zwp_virtual_keyboard_v1_key(
        s.keyboard.get(), s.now(), key,
        up ? WL_KEYBOARD_KEY_STATE_RELEASED : WL_KEYBOARD_KEY_STATE_PRESSED);
    if (changed != 0) {
        zwp_virtual_keyboard_v1_modifiers(
            s.keyboard.get(), xkb_state_serialize_mods(s.state.get(), XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(s.state.get(), XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(s.state.get(), XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(s.state.get(), XKB_STATE_LAYOUT_EFFECTIVE));
    }
    if (s.guard) s.guard->key(key, !up);
    // Once this returns, the compositor has handled the key.
    s.roundtrip();
}

void WaylandDesktop::sendMouse(const MouseInput& input) {
    std::lock_guard lock(impl_->mutex);
    Impl& s = *impl_;
    zwlr_virtual_pointer_v1* p = s.pointer.get();
    const uint32_t f = input.flags;
    const uint32_t time = s.now();
    if (f & MOUSEEVENTF_ABSOLUTE) {
        const ScreenSize screen = s.output.sizeOr(kNoOutputSize);
        s.cursor = {normalisedToPixel(input.dx, screen.width),
                    normalisedToPixel(input.dy, screen.height)};
        zwlr_virtual_pointer_v1_motion_absolute(
            p, time, static_cast<uint32_t>(s.cursor.x), static_cast<uint32_t>(s.cursor.y),
            static_cast<uint32_t>(screen.width), static_cast<uint32_t>(screen.height));
        zwlr_virtual_pointer_v1_frame(p);
    }
    const auto button = [&](uint32_t flag, uint32_t code, bool down) {
        if ((f & flag) == 0) return;
        if (s.guard) s.guard->button(code == BTN_LEFT ? 1 : code == BTN_MIDDLE ? 2 : 3, down);
        zwlr_virtual_pointer_v1_button(
            p, time, code,
            down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(p);
    };
    button(MOUSEEVENTF_LEFTDOWN, BTN_LEFT, true);
    button(MOUSEEVENTF_LEFTUP, BTN_LEFT, false);
    button(MOUSEEVENTF_RIGHTDOWN, BTN_RIGHT, true);
    button(MOUSEEVENTF_RIGHTUP, BTN_RIGHT, false);
    button(MOUSEEVENTF_MIDDLEDOWN, BTN_MIDDLE, true);
    button(MOUSEEVENTF_MIDDLEUP, BTN_MIDDLE, false);
    if ((f & MOUSEEVENTF_WHEEL) && input.mouseData != 0) {
        // Positive wheel data turns the wheel away from the user: scrolling
        // up, negative on Wayland's vertical axis.
        const int notches = std::max(1, std::abs(input.mouseData) / WHEEL_DELTA);
        const int steps = input.mouseData > 0 ? -notches : notches;
        zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(p, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_double(kNotchAxis * steps), steps);
        zwlr_virtual_pointer_v1_frame(p);
    }
    // Buttons and the wheel wait for the compositor like keys; plain moves,
    // which the cursor worker sends every frame, are only flushed.
    if (f & ~MOUSEEVENTF_ABSOLUTE & ~MOUSEEVENTF_MOVE)
        s.roundtrip();
    else
        s.flush();
}

ScreenPoint WaylandDesktop::cursorPos() {
    std::lock_guard lock(impl_->mutex);
    return impl_->cursor;
}

ScreenSize WaylandDesktop::screenSize() {
    std::lock_guard lock(impl_->mutex);
    return impl_->output.sizeOr(kNoOutputSize);
}

void WaylandDesktop::sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string waylandKeymap() {
    const XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    return context ? keymapSource(context.get()) : "";
}

ScreenSize waylandScreenSize(ScreenSize fallback) {
    const DisplayPtr display(wl_display_connect(nullptr));
    if (!display) return fallback;
    OutputState output;
    static constexpr wl_registry_listener listener{
        [](void* data, wl_registry* registry, uint32_t id, const char* interface,
           uint32_t version) {
            if (std::strcmp(interface, wl_output_interface.name) == 0) {
                static_cast<OutputState*>(data)->bind(registry, id, version);
            }
        },
        [](void*, wl_registry*, uint32_t) {}};
    const RegistryPtr registry(wl_display_get_registry(display.get()));
    wl_registry_add_listener(registry.get(), &listener, &output);
    wl_display_roundtrip(display.get());
    wl_display_roundtrip(display.get());
    const ScreenSize size = output.sizeOr(fallback);
    output.output.reset();
    return size;
}

}  // namespace platform
