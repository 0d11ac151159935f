// Owning wrappers for the OpenNI 2 and hand-tracker handles the viewer holds.
#pragma once

#include <OniCAPI.h>

#include <utility>

#include "app/DepthImage.h"
#include "app/HandPoints.h"
#include "app/tracker/Orvex.h"

// oniInitialize .. oniShutdown.
class OpenNIRuntime {
  public:
    OpenNIRuntime() = default;
    ~OpenNIRuntime() { shutdown(); }
    OpenNIRuntime(const OpenNIRuntime&) = delete;
    OpenNIRuntime& operator=(const OpenNIRuntime&) = delete;

    OniStatus initialize() {
        const OniStatus status = oniInitialize(ONI_API_VERSION);
        initialized_ = true;
        return status;
    }
    void shutdown() {
        if (initialized_) oniShutdown();
        initialized_ = false;
    }

  private:
    bool initialized_ = false;
};

// orvexInitialize .. orvexShutdown.
class OrvexRuntime {
  public:
    OrvexRuntime() = default;
    ~OrvexRuntime() { shutdown(); }
    OrvexRuntime(const OrvexRuntime&) = delete;
    OrvexRuntime& operator=(const OrvexRuntime&) = delete;

    OrvexStatus initialize() {
        initialized_ = true;
        return orvexInitialize();
    }
    void shutdown() {
        if (initialized_) orvexShutdown();
        initialized_ = false;
    }

  private:
    bool initialized_ = false;
};

class Device {
  public:
    Device() = default;
    ~Device() { close(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    OniStatus open(const char* uri) { return oniDeviceOpen(uri, &handle_); }
    void close() {
        if (handle_ != nullptr) oniDeviceClose(handle_);
        handle_ = nullptr;
    }
    OniDeviceHandle get() const { return handle_; }

  private:
    OniDeviceHandle handle_ = nullptr;
};

class DepthStream {
  public:
    DepthStream() = default;
    ~DepthStream() { destroy(); }
    DepthStream(const DepthStream&) = delete;
    DepthStream& operator=(const DepthStream&) = delete;

    OniStatus create(OniDeviceHandle device) {
        return oniDeviceCreateStream(device, ONI_SENSOR_DEPTH, &handle_);
    }
    void destroy() {
        if (handle_ != nullptr) oniStreamDestroy(handle_);
        handle_ = nullptr;
    }
    OniStreamHandle get() const { return handle_; }

  private:
    OniStreamHandle handle_ = nullptr;
};

// The hand tracker cell: shuts the tracker down when it goes.
class HandTracker {
  public:
    HandTracker() = default;
    ~HandTracker() { shutdown(); }
    HandTracker(const HandTracker&) = delete;
    HandTracker& operator=(const HandTracker&) = delete;

    OrvexStatus create(OniDeviceHandle device) {
        return orvexInitializeHandTrackerByDevice(device, &handle_);
    }
    void shutdown() {
        if (handle_ != nullptr) orvexShutdownHandTracker(handle_);
        handle_ = nullptr;
    }
    OrvexHandTrackerHandle get() const { return handle_; }

  private:
    OrvexHandTrackerHandle handle_ = nullptr;
};

// One tracker frame, given back when it goes.
class TrackerFrame {
  public:
    explicit TrackerFrame(OrvexHandTrackerHandle tracker) : tracker_(tracker) {}
    ~TrackerFrame() {
        if (frame_ != nullptr) orvexHandTrackerFrameRelease(tracker_, frame_);
    }
    TrackerFrame(const TrackerFrame&) = delete;
    TrackerFrame& operator=(const TrackerFrame&) = delete;

    OrvexStatus read() { return orvexReadHandTrackerFrame(tracker_, &frame_); }
    OrvexHandTrackerFrame* operator->() const { return frame_; }
    OrvexHandTrackerFrame* get() const { return frame_; }

  private:
    OrvexHandTrackerHandle tracker_;
    OrvexHandTrackerFrame* frame_ = nullptr;
};

// A counted reference to an OpenNI frame.
class FrameRef {
  public:
    explicit FrameRef(OniFrame* frame) : frame_(frame) {
        if (frame_ != nullptr) oniFrameAddRef(frame_);
    }
    ~FrameRef() {
        if (frame_ != nullptr) oniFrameRelease(frame_);
    }
    FrameRef(const FrameRef&) = delete;
    FrameRef& operator=(const FrameRef&) = delete;
    OniFrame* get() const { return frame_; }

  private:
    OniFrame* frame_;
};

// World <-> depth-image conversions through the hand tracker.
class TrackerConverter final : public DepthConverter {
  public:
    explicit TrackerConverter(const HandTracker& tracker) : tracker_(tracker) {}
    void worldToDepth(float x, float y, float z, float& depthX, float& depthY) override {
        orvexConvertHandCoordinatesToDepth(tracker_.get(), x, y, z, &depthX, &depthY);
    }
    void depthToWorld(int depthX, int depthY, int depthZ, float& x, float& y) override {
        orvexConvertDepthCoordinatesToHand(tracker_.get(), depthX, depthY, depthZ, &x, &y);
    }

  private:
    const HandTracker& tracker_;
};

// The pixels of an OpenNI depth frame, as the depth picture and the hand
// midpoint read them.
inline DepthFrameView depthViewOf(const OniFrame* f) {
    DepthFrameView view;
    view.data = static_cast<const uint16_t*>(f->data);
    view.width = f->width;
    view.height = f->height;
    view.strideBytes = f->stride;
    view.dataBytes = f->dataSize;
    view.cropX = f->croppingEnabled ? f->cropOriginX : 0;
    view.cropY = f->croppingEnabled ? f->cropOriginY : 0;
    view.resolutionX = f->videoMode.resolutionX;
    view.resolutionY = f->videoMode.resolutionY;
    return view;
}
