// A Kinect as an OpenNI 2 device: one depth sensor with the modes of
// KinectDepth.h. The device runs the camera's event loop (KinectPump) while
// at least one of its depth streams is started and hands every frame to
// each started stream, which converts it straight into an OpenNI frame.
#pragma once

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/KinectBus.h"
#include "sim/driver/OniDriver.h"
#include "sim/freenect/KinectDepth.h"
#include "sim/freenect/KinectPump.h"

namespace sim::freenect {

class FreenectStream;

class FreenectDevice : public oni::driver::DeviceBase, public platform::KinectFrameSink {
  public:
    FreenectDevice(std::unique_ptr<platform::KinectCamera> camera, std::string serial,
                   oni::driver::DriverServices& services);
    ~FreenectDevice() override;
    FreenectDevice(const FreenectDevice&) = delete;
    FreenectDevice& operator=(const FreenectDevice&) = delete;

    OniStatus getSensorInfoList(OniSensorInfo** pSensors, int* numSensors) override;
    oni::driver::StreamBase* createStream(OniSensorType sensorType) override;
    void destroyStream(oni::driver::StreamBase* pStream) override;
    OniStatus getProperty(int propertyId, void* data, int* pDataSize) override;
    OniBool isPropertySupported(int propertyId) override;

    // From the streams.
    bool streamStarted(FreenectStream* stream, std::string& error);
    void streamStopped(FreenectStream* stream);
    oni::driver::DriverServices& services() { return services_; }

    // On the pump thread.
    void depthFrame(const void* pixels, uint32_t timestamp) override;

  private:
    static constexpr size_t kMaxStreams = 4;

    const std::unique_ptr<platform::KinectCamera> camera_;
    const std::string serial_;
    oni::driver::DriverServices& services_;
    std::array<OniVideoMode, kDepthModes.size()> modes_{};
    OniSensorInfo sensor_{};
    DepthConverter converter_;
    DeviceClock clock_;  // the pump thread's

    std::mutex mutex_;
    std::condition_variable delivered_;
    std::vector<std::unique_ptr<FreenectStream>> streams_;
    std::array<FreenectStream*, kMaxStreams> started_{};  // nullptr where free
    int delivering_ = 0;  // frames being handed to streams outside the lock
    std::unique_ptr<KinectPump> pump_;
};

class FreenectStream : public oni::driver::StreamBase {
  public:
    FreenectStream(FreenectDevice& device, platform::KinectDepthUnit unit);
    ~FreenectStream() override;
    FreenectStream(const FreenectStream&) = delete;
    FreenectStream& operator=(const FreenectStream&) = delete;

    OniStatus start() override;
    void stop() override;
    OniStatus getProperty(int propertyId, void* data, int* pDataSize) override;
    OniStatus setProperty(int propertyId, const void* data, int dataSize) override;
    OniBool isPropertySupported(int propertyId) override;
    int getRequiredFrameSize() override;
    void notifyAllProperties() override;

    // On the pump thread: converts one camera frame and hands it to OpenNI.
    void deliver(const void* pixels, const DepthConverter& converter, DeviceClock::Stamp stamp);

  private:
    FreenectDevice& device_;
    const platform::KinectDepthUnit unit_;
    std::mutex mutex_;
    OniVideoMode mode_;
    bool mirror_ = false;
    bool running_ = false;
};

}  // namespace sim::freenect
