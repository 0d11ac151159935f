#include "sim/freenect/FreenectDevice.h"

#include <algorithm>
#include <cstring>

#include "sim/driver/DepthProperties.h"

namespace sim::freenect {

using driver::give;
using driver::take;

namespace {

OniVideoMode toOni(const DepthMode& m) {
    return OniVideoMode{ONI_PIXEL_FORMAT_DEPTH_1_MM, m.width, m.height, m.fps};
}

}  // namespace

// ---------------------------------------------------------------- device

FreenectDevice::FreenectDevice(std::unique_ptr<platform::KinectCamera> camera, std::string serial,
                               oni::driver::DriverServices& services)
    : camera_(std::move(camera)), serial_(std::move(serial)), services_(services) {
    std::transform(kDepthModes.begin(), kDepthModes.end(), modes_.begin(), toOni);
    sensor_.sensorType = ONI_SENSOR_DEPTH;
    sensor_.numSupportedVideoModes = static_cast<int>(modes_.size());
    sensor_.pSupportedVideoModes = modes_.data();
}

FreenectDevice::~FreenectDevice() {
    std::unique_ptr<KinectPump> pump;
    {
        std::lock_guard lock(mutex_);
        started_.fill(nullptr);
        pump = std::move(pump_);
    }
    pump.reset();  // joins the event thread before the streams and the camera go
}

OniStatus FreenectDevice::getSensorInfoList(OniSensorInfo** pSensors, int* numSensors) {
    if (pSensors == nullptr || numSensors == nullptr) return ONI_STATUS_BAD_PARAMETER;
    *pSensors = &sensor_;
    *numSensors = 1;
    return ONI_STATUS_OK;
}

oni::driver::StreamBase* FreenectDevice::createStream(OniSensorType sensorType) {
    if (sensorType != ONI_SENSOR_DEPTH) return nullptr;
    try {
        std::lock_guard lock(mutex_);
        streams_.push_back(std::make_unique<FreenectStream>(*this, camera_->unit()));
        return streams_.back().get();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void FreenectDevice::destroyStream(oni::driver::StreamBase* pStream) {
    std::unique_ptr<FreenectStream> doomed;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(streams_.begin(), streams_.end(),
                                     [&](const auto& s) { return s.get() == pStream; });
        if (it == streams_.end()) return;
        doomed = std::move(*it);
        streams_.erase(it);
    }
    doomed.reset();  // stops it first
}

OniBool FreenectDevice::isPropertySupported(int propertyId) {
    return propertyId == ONI_DEVICE_PROPERTY_DRIVER_VERSION ||
                   propertyId == ONI_DEVICE_PROPERTY_SERIAL_NUMBER ||
                   propertyId == ONI_DEVICE_PROPERTY_IMAGE_REGISTRATION
               ? TRUE
               : FALSE;
}

OniStatus FreenectDevice::getProperty(int propertyId, void* data, int* pDataSize) {
    switch (propertyId) {
        case ONI_DEVICE_PROPERTY_DRIVER_VERSION:
            return give(OniVersion{0, 1, 0, 0}, data, pDataSize);
        case ONI_DEVICE_PROPERTY_IMAGE_REGISTRATION:
            return give(ONI_IMAGE_REGISTRATION_OFF, data, pDataSize);
        case ONI_DEVICE_PROPERTY_SERIAL_NUMBER: {
            if (data == nullptr || pDataSize == nullptr ||
                *pDataSize <= static_cast<int>(serial_.size()))
                return ONI_STATUS_BAD_PARAMETER;
            std::memcpy(data, serial_.c_str(), serial_.size() + 1);
            *pDataSize = static_cast<int>(serial_.size()) + 1;
            return ONI_STATUS_OK;
        }
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

bool FreenectDevice::streamStarted(FreenectStream* stream, std::string& error) {
    std::lock_guard lock(mutex_);
    const auto free = std::find(started_.begin(), started_.end(), nullptr);
    if (free == started_.end()) {
        error = "too many depth streams started on one Kinect";
        return false;
    }
    if (!pump_ || pump_->ended()) {
        // A pump whose camera ended is replaced: a camera that comes back, or a
        // recording at its end, then gets the chance to say so.
        pump_.reset();
        auto pump = std::make_unique<KinectPump>(*camera_, *this);
        clock_.reset();
        if (!pump->start(error)) return false;
        pump_ = std::move(pump);
    }
    *free = stream;
    return true;
}

void FreenectDevice::streamStopped(FreenectStream* stream) {
    std::unique_ptr<KinectPump> pump;
    {
        std::unique_lock lock(mutex_);
        std::replace(started_.begin(), started_.end(), stream,
                     static_cast<FreenectStream*>(nullptr));
        // A frame on its way to this stream gets there before the stream goes.
        delivered_.wait(lock, [&] { return delivering_ == 0; });
        if (std::all_of(started_.begin(), started_.end(), [](auto* s) { return s == nullptr; }))
            pump = std::move(pump_);
    }
    pump.reset();  // ends and joins the event thread
}

void FreenectDevice::depthFrame(const void* pixels, uint32_t timestamp) {
    const DeviceClock::Stamp stamp = clock_.next(timestamp);
    std::array<FreenectStream*, kMaxStreams> targets;
    {
        std::lock_guard lock(mutex_);
        targets = started_;
        ++delivering_;
    }
    for (FreenectStream* s : targets) {
        if (s != nullptr) s->deliver(pixels, converter_, stamp);
    }
    {
        std::lock_guard lock(mutex_);
        --delivering_;
    }
    delivered_.notify_all();
}

// ---------------------------------------------------------------- stream

FreenectStream::FreenectStream(FreenectDevice& device, platform::KinectDepthUnit unit)
    : device_(device), unit_(unit), mode_(toOni(kDepthModes.front())) {}

FreenectStream::~FreenectStream() {
    FreenectStream::stop();
}

OniStatus FreenectStream::start() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return ONI_STATUS_OK;
        running_ = true;
    }
    std::string error;
    if (!device_.streamStarted(this, error)) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        device_.services().errorLoggerAppend("Kinect: %s", error.c_str());
        return ONI_STATUS_ERROR;
    }
    return ONI_STATUS_OK;
}

void FreenectStream::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        running_ = false;
    }
    device_.streamStopped(this);
}

void FreenectStream::deliver(const void* pixels, const DepthConverter& converter,
                             DeviceClock::Stamp stamp) {
    OniVideoMode mode;
    bool mirror;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        mirror = mirror_;
    }
    const int bytes = mode.resolutionX * mode.resolutionY * static_cast<int>(sizeof(uint16_t));
    OniFrame* frame = getServices().acquireFrame();
    if (frame == nullptr) return;
    if (frame->dataSize < bytes) {  // sized for another mode: cannot happen while started
        getServices().releaseFrame(frame);
        return;
    }
    converter.convert(pixels, unit_, mode.resolutionX, mode.resolutionY, mirror,
                      static_cast<uint16_t*>(frame->data));
    frame->dataSize = bytes;
    frame->sensorType = ONI_SENSOR_DEPTH;
    frame->videoMode = mode;
    frame->width = mode.resolutionX;
    frame->height = mode.resolutionY;
    frame->cropOriginX = 0;
    frame->cropOriginY = 0;
    frame->croppingEnabled = FALSE;
    frame->stride = mode.resolutionX * static_cast<int>(sizeof(uint16_t));
    frame->frameIndex = stamp.frameIndex;
    frame->timestamp = stamp.timestamp;
    raiseNewFrame(frame);
    getServices().releaseFrame(frame);
}

int FreenectStream::getRequiredFrameSize() {
    std::lock_guard lock(mutex_);
    return mode_.resolutionX * mode_.resolutionY * static_cast<int>(sizeof(uint16_t));
}

OniBool FreenectStream::isPropertySupported(int propertyId) {
    return driver::isDepthStreamProperty(propertyId) ? TRUE : FALSE;
}

OniStatus FreenectStream::getProperty(int propertyId, void* data, int* pDataSize) {
    std::lock_guard lock(mutex_);
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
            return give(mode_, data, pDataSize);
        case ONI_STREAM_PROPERTY_HORIZONTAL_FOV:
            return give(kHorizontalFov, data, pDataSize);
        case ONI_STREAM_PROPERTY_VERTICAL_FOV:
            return give(kVerticalFov, data, pDataSize);
        case ONI_STREAM_PROPERTY_MAX_VALUE:
            return give(kMaxDepth, data, pDataSize);
        case ONI_STREAM_PROPERTY_MIN_VALUE:
            return give(kMinDepth, data, pDataSize);
        case ONI_STREAM_PROPERTY_STRIDE:
            return give(mode_.resolutionX * static_cast<int>(sizeof(uint16_t)), data, pDataSize);
        case ONI_STREAM_PROPERTY_MIRRORING:
            return give(static_cast<OniBool>(mirror_ ? TRUE : FALSE), data, pDataSize);
        case ONI_STREAM_PROPERTY_CROPPING:
            return give(OniCropping{0, 0, 0, mode_.resolutionX, mode_.resolutionY}, data,
                        pDataSize);
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

OniStatus FreenectStream::setProperty(int propertyId, const void* data, int dataSize) {
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE: {
            OniVideoMode mode;
            if (!take(data, dataSize, mode)) return ONI_STATUS_BAD_PARAMETER;
            if (mode.pixelFormat != ONI_PIXEL_FORMAT_DEPTH_1_MM ||
                !offered(mode.resolutionX, mode.resolutionY, mode.fps))
                return ONI_STATUS_NOT_SUPPORTED;
            {
                std::lock_guard lock(mutex_);
                // OpenNI sizes its frame buffers when the stream starts.
                if (running_) return ONI_STATUS_OUT_OF_FLOW;
                mode_ = mode;
            }
            raisePropertyChanged(ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, sizeof mode);
            return ONI_STATUS_OK;
        }
        case ONI_STREAM_PROPERTY_MIRRORING: {
            OniBool mirror;
            if (!take(data, dataSize, mirror)) return ONI_STATUS_BAD_PARAMETER;
            {
                std::lock_guard lock(mutex_);
                mirror_ = mirror != FALSE;
            }
            raisePropertyChanged(ONI_STREAM_PROPERTY_MIRRORING, &mirror, sizeof mirror);
            return ONI_STATUS_OK;
        }
        case ONI_STREAM_PROPERTY_CROPPING: {
            OniCropping crop;
            if (!take(data, dataSize, crop)) return ONI_STATUS_BAD_PARAMETER;
            return crop.enabled ? ONI_STATUS_NOT_SUPPORTED : ONI_STATUS_OK;
        }
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

void FreenectStream::notifyAllProperties() {
    OniVideoMode mode;
    OniBool mirror;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        mirror = mirror_ ? TRUE : FALSE;
    }
    const int minValue = kMinDepth, maxValue = kMaxDepth;
    const float hfov = kHorizontalFov, vfov = kVerticalFov;
    const int stride = mode.resolutionX * static_cast<int>(sizeof(uint16_t));
    const OniCropping crop{0, 0, 0, mode.resolutionX, mode.resolutionY};
    raisePropertyChanged(ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, sizeof mode);
    raisePropertyChanged(ONI_STREAM_PROPERTY_HORIZONTAL_FOV, &hfov, sizeof hfov);
    raisePropertyChanged(ONI_STREAM_PROPERTY_VERTICAL_FOV, &vfov, sizeof vfov);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MIN_VALUE, &minValue, sizeof minValue);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MAX_VALUE, &maxValue, sizeof maxValue);
    raisePropertyChanged(ONI_STREAM_PROPERTY_STRIDE, &stride, sizeof stride);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MIRRORING, &mirror, sizeof mirror);
    raisePropertyChanged(ONI_STREAM_PROPERTY_CROPPING, &crop, sizeof crop);
}

}  // namespace sim::freenect
