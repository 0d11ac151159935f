#include "platform/UinputDesktop.h"

#include "platform/EvdevKeys.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

using DevicePtr = std::unique_ptr<libevdev, decltype(&libevdev_free)>;

class UinputSink final : public EvdevSink {
  public:
    UinputSink(int fd, libevdev_uinput* device) : fd_(fd), device_(device) {}
    ~UinputSink() override {
        libevdev_uinput_destroy(device_);
        close(fd_);
    }
    UinputSink(const UinputSink&) = delete;
    UinputSink& operator=(const UinputSink&) = delete;

    void write(uint16_t type, uint16_t code, int32_t value) override {
        // A device the kernel has taken away only means lost events.
        (void)libevdev_uinput_write_event(device_, type, code, value);
    }

  private:
    int fd_;
    libevdev_uinput* device_;
};

std::unique_ptr<EvdevSink> makeDevice(const DevicePtr& description, const char* path,
                                      std::string& error) {
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = std::string(path) + ": " + std::strerror(errno);
        return nullptr;
    }
    libevdev_uinput* device = nullptr;
    const int rc = libevdev_uinput_create_from_device(description.get(), fd, &device);
    if (rc != 0) {
        close(fd);
        error = std::string(path) + ": " + std::strerror(-rc);
        return nullptr;
    }
    return std::make_unique<UinputSink>(fd, device);
}

}  // namespace

std::unique_ptr<EvdevDesktop> openUinputDesktop(ScreenSize screen, std::string& error,
                                                const char* path) {
    const DevicePtr keyboard(libevdev_new(), &libevdev_free);
    const DevicePtr pointer(libevdev_new(), &libevdev_free);
    if (!keyboard || !pointer) {
        error = "libevdev: out of memory";
        return nullptr;
    }
    libevdev_set_name(keyboard.get(), "Tolvane virtual keyboard");
    libevdev_set_id_bustype(keyboard.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(keyboard.get(), EV_KEY);
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (const uint16_t code = evdevKeyOf(vk); code != 0) {
            libevdev_enable_event_code(keyboard.get(), EV_KEY, code, nullptr);
        }
    }

    libevdev_set_name(pointer.get(), "Tolvane virtual pointer");
    libevdev_set_id_bustype(pointer.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(pointer.get(), EV_KEY);
    for (const unsigned button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE}) {
        libevdev_enable_event_code(pointer.get(), EV_KEY, button, nullptr);
    }
    libevdev_enable_event_type(pointer.get(), EV_REL);
    libevdev_enable_event_code(pointer.get(), EV_REL, REL_WHEEL, nullptr);
    input_absinfo axis{};
    axis.maximum = kEvdevAbsMax;
    libevdev_enable_event_type(pointer.get(), EV_ABS);
    libevdev_enable_event_code(pointer.get(), EV_ABS, ABS_X, &axis);
    libevdev_enable_event_code(pointer.get(), EV_ABS, ABS_Y, &axis);

    auto keyboardSink = makeDevice(keyboard, path, error);
    if (!keyboardSink) return nullptr;
    auto pointerSink = makeDevice(pointer, path, error);
    if (!pointerSink) return nullptr;
    return std::make_unique<EvdevDesktop>(std::move(keyboardSink), std::move(pointerSink), screen);
}

}  // namespace platform
