// A virtual sensor: one scene file served as an OpenNI 2 device with a depth
// sensor. Device properties: the playback speed (float, as for .oni files:
// 1 real time, 2 twice as fast, 0 or less the no-drop mode of SimStream) and
// repeat (OniBool, the scene's loop), the driver version and a serial number
// (the scene's file name).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "sim/Scene.h"
#include "sim/driver/OniDriver.h"

namespace sim::driver {

class SimStream;

class SimDevice : public oni::driver::DeviceBase {
  public:
    explicit SimDevice(std::shared_ptr<const Scene> scene);
    ~SimDevice() override;
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    OniStatus getSensorInfoList(OniSensorInfo** pSensors, int* numSensors) override;
    oni::driver::StreamBase* createStream(OniSensorType sensorType) override;
    void destroyStream(oni::driver::StreamBase* pStream) override;

    OniStatus getProperty(int propertyId, void* data, int* pDataSize) override;
    OniStatus setProperty(int propertyId, const void* data, int dataSize) override;
    OniBool isPropertySupported(int propertyId) override;
    OniStatus tryManualTrigger() override;

  private:
    const std::shared_ptr<const Scene> scene_;
    std::vector<OniVideoMode> modes_;
    OniSensorInfo sensor_{};

    std::mutex mutex_;
    std::vector<std::unique_ptr<SimStream>> streams_;
    double speed_;
    bool loop_;
};

}  // namespace sim::driver
