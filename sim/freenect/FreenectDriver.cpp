// OpenNI 2 driver for the Kinect for Xbox 360, over libfreenect: every
// Kinect that libfreenect finds is a device "freenect://N" (N from 0, in
// libfreenect's order), announced when OpenNI starts, so that "any device"
// opens the first. A URI for a Kinect plugged in later opens too. A device
// that is not there or cannot be opened fails the open with a message
// (oniGetExtendedError) that says which and what to do.
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/KinectBus.h"
#include "sim/driver/OniDriver.h"
#include "sim/freenect/FreenectDevice.h"

namespace sim::freenect {

namespace {

constexpr const char* kScheme = "freenect://";

// N of "freenect://N", or -1.
int indexOf(const char* uri) {
    if (uri == nullptr || std::strncmp(uri, kScheme, std::strlen(kScheme)) != 0) return -1;
    const char* digits = uri + std::strlen(kScheme);
    const char* end = digits + std::strlen(digits);
    int index = -1;
    const auto [ptr, ec] = std::from_chars(digits, end, index);
    if (ec != std::errc() || ptr != end || digits == end || index < 0) return -1;
    return index;
}

std::string uriOf(int index) {
    return kScheme + std::to_string(index);
}

}  // namespace

class FreenectDriver : public oni::driver::DriverBase {
  public:
    explicit FreenectDriver(OniDriverServices* services)
        : DriverBase(services), bus_(platform::makeFreenectBus()) {}
    ~FreenectDriver() override { FreenectDriver::shutdown(); }

    OniStatus initialize(oni::driver::DeviceConnectedCallback connected,
                         oni::driver::DeviceDisconnectedCallback disconnected,
                         oni::driver::DeviceStateChangedCallback changed, void* cookie) override {
        const OniStatus status = DriverBase::initialize(connected, disconnected, changed, cookie);
        if (status != ONI_STATUS_OK) return status;
        const int count = bus_->count();
        for (int i = 0; i < count; ++i) announce(i);
        return ONI_STATUS_OK;
    }

    OniStatus tryDevice(const char* uri) override {
        const int index = indexOf(uri);
        if (index < 0) return ONI_STATUS_ERROR;
        if (index >= bus_->count()) {
            // Not there: opening it says why.
            std::lock_guard lock(mutex_);
            std::string error;
            if (!bus_->open(index, error)) {
                getServices().errorLoggerAppend("Kinect %s", error.c_str());
                return ONI_STATUS_ERROR;
            }
        }
        announce(index);
        return ONI_STATUS_OK;
    }

    oni::driver::DeviceBase* deviceOpen(const char* uri, const char* /*mode*/) override {
        const int index = indexOf(uri);
        if (index < 0) return nullptr;
        try {
            std::lock_guard lock(mutex_);
            std::string error;
            std::unique_ptr<platform::KinectCamera> camera = bus_->open(index, error);
            if (!camera) {
                getServices().errorLoggerAppend("Kinect %s", error.c_str());
                return nullptr;
            }
            auto device =
                std::make_unique<FreenectDevice>(std::move(camera), uriOf(index), getServices());
            FreenectDevice* raw = device.get();
            devices_[raw] = std::move(device);
            return raw;
        } catch (const std::exception& e) {
            getServices().errorLoggerAppend("Kinect %s: %s", uri, e.what());
            return nullptr;
        }
    }

    void deviceClose(oni::driver::DeviceBase* device) override {
        std::unique_ptr<FreenectDevice> doomed;
        {
            std::lock_guard lock(mutex_);
            const auto it = devices_.find(device);
            if (it == devices_.end()) return;
            doomed = std::move(it->second);
            devices_.erase(it);
        }
    }

    void shutdown() override {
        std::map<oni::driver::DeviceBase*, std::unique_ptr<FreenectDevice>> doomed;
        std::lock_guard lock(mutex_);
        doomed.swap(devices_);
    }

  private:
    void announce(int index) {
        OniDeviceInfo info{};
        const std::string uri = uriOf(index);
        std::strncpy(info.uri, uri.c_str(), ONI_MAX_STR - 1);
        std::strncpy(info.vendor, "Microsoft", ONI_MAX_STR - 1);
        const std::string name = "Kinect for Xbox 360 (" + bus_->name() + ")";
        std::strncpy(info.name, name.c_str(), ONI_MAX_STR - 1);
        info.usbVendorId = 0x045e;
        info.usbProductId = 0x02ae;  // the Kinect's camera
        deviceConnected(&info);
    }

    const std::unique_ptr<platform::KinectBus> bus_;
    std::mutex mutex_;
    std::map<oni::driver::DeviceBase*, std::unique_ptr<FreenectDevice>> devices_;
};

}  // namespace sim::freenect

ONI_EXPORT_DRIVER(sim::freenect::FreenectDriver)
