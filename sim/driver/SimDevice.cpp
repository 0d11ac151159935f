#include "sim/driver/SimDevice.h"

#include <algorithm>
#include <cstring>

#include "sim/driver/SimStream.h"

namespace sim::driver {

SimDevice::SimDevice(std::shared_ptr<const Scene> scene)
    : scene_(std::move(scene)),
      modes_(SimStream::videoModes(*scene_)),
      speed_(scene_->sensor.speed),
      loop_(scene_->loop) {
    sensor_.sensorType = ONI_SENSOR_DEPTH;
    sensor_.numSupportedVideoModes = static_cast<int>(modes_.size());
    sensor_.pSupportedVideoModes = modes_.data();
}

SimDevice::~SimDevice() {
    std::lock_guard lock(mutex_);
    for (auto& stream : streams_) stream->stop();
}

OniStatus SimDevice::getSensorInfoList(OniSensorInfo** pSensors, int* numSensors) {
    if (pSensors == nullptr || numSensors == nullptr) return ONI_STATUS_BAD_PARAMETER;
    *pSensors = &sensor_;
    *numSensors = 1;
    return ONI_STATUS_OK;
}

oni::driver::StreamBase* SimDevice::createStream(OniSensorType sensorType) {
    if (sensorType != ONI_SENSOR_DEPTH) return nullptr;
    try {
        std::lock_guard lock(mutex_);
        streams_.push_back(std::make_unique<SimStream>(scene_, speed_, loop_));
        return streams_.back().get();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void SimDevice::destroyStream(oni::driver::StreamBase* pStream) {
    std::unique_ptr<SimStream> doomed;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(streams_.begin(), streams_.end(),
                                     [&](const auto& s) { return s.get() == pStream; });
        if (it == streams_.end()) return;
        doomed = std::move(*it);
        streams_.erase(it);
    }
    doomed.reset();  // stops its thread
}

OniBool SimDevice::isPropertySupported(int propertyId) {
    switch (propertyId) {
        case ONI_DEVICE_PROPERTY_PLAYBACK_SPEED:
        case ONI_DEVICE_PROPERTY_PLAYBACK_REPEAT_ENABLED:
        case ONI_DEVICE_PROPERTY_DRIVER_VERSION:
        case ONI_DEVICE_PROPERTY_SERIAL_NUMBER:
        case ONI_DEVICE_PROPERTY_IMAGE_REGISTRATION:
            return TRUE;
        default:
            return FALSE;
    }
}

OniStatus SimDevice::getProperty(int propertyId, void* data, int* pDataSize) {
    if (data == nullptr || pDataSize == nullptr) return ONI_STATUS_BAD_PARAMETER;
    auto give = [&](const void* value, int size) {
        if (*pDataSize < size) return ONI_STATUS_BAD_PARAMETER;
        std::memcpy(data, value, static_cast<size_t>(size));
        *pDataSize = size;
        return ONI_STATUS_OK;
    };
    std::lock_guard lock(mutex_);
    switch (propertyId) {
        case ONI_DEVICE_PROPERTY_PLAYBACK_SPEED: {
            const float speed = static_cast<float>(speed_);
            return give(&speed, sizeof speed);
        }
        case ONI_DEVICE_PROPERTY_PLAYBACK_REPEAT_ENABLED: {
            const OniBool loop = loop_ ? TRUE : FALSE;
            return give(&loop, sizeof loop);
        }
        case ONI_DEVICE_PROPERTY_DRIVER_VERSION: {
            const OniVersion version{0, 1, 0, 0};
            return give(&version, sizeof version);
        }
        case ONI_DEVICE_PROPERTY_SERIAL_NUMBER: {
            std::string serial = scene_->source.substr(scene_->source.find_last_of('/') + 1);
            const int size = std::min(*pDataSize, static_cast<int>(serial.size()) + 1);
            serial.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
            return give(serial.c_str(), static_cast<int>(serial.size()) + 1);
        }
        case ONI_DEVICE_PROPERTY_IMAGE_REGISTRATION: {
            const OniImageRegistrationMode mode = ONI_IMAGE_REGISTRATION_OFF;
            return give(&mode, sizeof mode);
        }
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

OniStatus SimDevice::setProperty(int propertyId, const void* data, int dataSize) {
    if (data == nullptr) return ONI_STATUS_BAD_PARAMETER;
    std::lock_guard lock(mutex_);
    switch (propertyId) {
        case ONI_DEVICE_PROPERTY_PLAYBACK_SPEED: {
            float speed;
            if (dataSize != sizeof speed) return ONI_STATUS_BAD_PARAMETER;
            std::memcpy(&speed, data, sizeof speed);
            if (!(speed == speed)) return ONI_STATUS_BAD_PARAMETER;  // NaN
            speed_ = speed;
            for (auto& stream : streams_) stream->setSpeed(speed_);
            return ONI_STATUS_OK;
        }
        case ONI_DEVICE_PROPERTY_PLAYBACK_REPEAT_ENABLED: {
            OniBool loop;
            if (dataSize != sizeof loop) return ONI_STATUS_BAD_PARAMETER;
            std::memcpy(&loop, data, sizeof loop);
            loop_ = loop != FALSE;
            for (auto& stream : streams_) stream->setLoop(loop_);
            return ONI_STATUS_OK;
        }
        case ONI_DEVICE_PROPERTY_IMAGE_REGISTRATION: {
            OniImageRegistrationMode mode;
            if (dataSize != sizeof mode) return ONI_STATUS_BAD_PARAMETER;
            std::memcpy(&mode, data, sizeof mode);
            return mode == ONI_IMAGE_REGISTRATION_OFF ? ONI_STATUS_OK : ONI_STATUS_NOT_SUPPORTED;
        }
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

OniStatus SimDevice::tryManualTrigger() {
    std::lock_guard lock(mutex_);
    for (auto& stream : streams_) stream->trigger();
    return ONI_STATUS_OK;
}

}  // namespace sim::driver
