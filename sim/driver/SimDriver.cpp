// OpenNI 2 driver of the virtual depth sensor: a device URI that names a file
// ending in ".scene" opens that scene (sim/Scene.h) as a depth camera. A bad
// scene fails the open; oniGetExtendedError() then gives the file, the line
// and what is wrong.
//
// The driver announces no device of its own from initialize(): OpenNI then
// holds its driver lock while taking its context lock, the reverse of what
// oniDeviceOpen does, and ThreadSanitizer rightly reports the cycle. So "any
// device" never picks a scene; name one.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sim/Scene.h"
#include "sim/driver/OniDriver.h"
#include "sim/driver/SimDevice.h"

namespace sim::driver {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

class SimDriver : public oni::driver::DriverBase {
  public:
    explicit SimDriver(OniDriverServices* services) : DriverBase(services) {}
    ~SimDriver() override { SimDriver::shutdown(); }

    OniStatus tryDevice(const char* uri) override {
        if (uri == nullptr || !endsWith(uri, ".scene")) return ONI_STATUS_ERROR;
        if (std::strlen(uri) >= ONI_MAX_STR) {
            getServices().errorLoggerAppend(
                "virtual sensor: the scene path is longer than %d bytes", ONI_MAX_STR - 1);
            return ONI_STATUS_ERROR;
        }
        std::string error;
        if (!loadScene(uri, error)) {
            getServices().errorLoggerAppend("virtual sensor: %s\n", error.c_str());
            return ONI_STATUS_ERROR;
        }
        announce(uri);
        return ONI_STATUS_OK;
    }

    oni::driver::DeviceBase* deviceOpen(const char* uri, const char* /*mode*/) override {
        if (uri == nullptr) return nullptr;
        std::string error;
        try {
            std::optional<Scene> scene = loadScene(uri, error);
            if (!scene) {
                getServices().errorLoggerAppend("virtual sensor: %s\n", error.c_str());
                return nullptr;
            }
            auto device =
                std::make_unique<SimDevice>(std::make_shared<const Scene>(std::move(*scene)));
            SimDevice* raw = device.get();
            std::lock_guard lock(mutex_);
            devices_[raw] = std::move(device);
            return raw;
        } catch (const std::exception& e) {
            getServices().errorLoggerAppend("virtual sensor: %s\n", e.what());
            return nullptr;
        }
    }

    void deviceClose(oni::driver::DeviceBase* device) override {
        std::unique_ptr<SimDevice> doomed;
        {
            std::lock_guard lock(mutex_);
            const auto it = devices_.find(device);
            if (it == devices_.end()) return;
            doomed = std::move(it->second);
            devices_.erase(it);
        }
    }

    void shutdown() override {
        std::map<oni::driver::DeviceBase*, std::unique_ptr<SimDevice>> doomed;
        std::lock_guard lock(mutex_);
        doomed.swap(devices_);
    }

  private:
    void announce(const char* uri) {
        OniDeviceInfo info{};
        std::strncpy(info.uri, uri, ONI_MAX_STR - 1);
        std::strncpy(info.vendor, "Tolvane", ONI_MAX_STR - 1);
        std::strncpy(info.name, "Virtual depth sensor", ONI_MAX_STR - 1);
        deviceConnected(&info);
    }

    std::mutex mutex_;
    std::map<oni::driver::DeviceBase*, std::unique_ptr<SimDevice>> devices_;
};

}  // namespace sim::driver

ONI_EXPORT_DRIVER(sim::driver::SimDriver)
