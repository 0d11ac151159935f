// The Orvex operations: a HandTrackerCore fed by a depth stream of an OpenNI 2 device.
#include "app/tracker/Orvex.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "app/tracker/HandTrackerCore.h"

namespace {

std::atomic<bool> g_initialized{false};
thread_local std::array<char, 256> g_lastError{};

OrvexStatus fail(OrvexStatus status, const char* format, ...) __attribute__((format(printf, 2, 3)));
OrvexStatus fail(OrvexStatus status, const char* format, ...) {
    va_list args;
    va_start(args, format);
    // The analyser of clang-tidy 14 sometimes loses the va_start above across translation units.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(g_lastError.data(), g_lastError.size(), format, args);
    va_end(args);
    return status;
}

struct StreamCloser {
    void operator()(OniStreamHandle stream) const {
        oniStreamStop(stream);
        oniStreamDestroy(stream);
    }
};
using StreamPtr = std::unique_ptr<_OniStream, StreamCloser>;

struct FrameSlot {
    bool held = false;
    OrvexHandTrackerFrame frame{};
    std::array<OrvexHandData, ORVEX_MAX_HANDS> hands{};
    std::array<OrvexGestureData, ORVEX_MAX_GESTURES> gestures{};
};

OrvexPoint3f toPoint(const tracker::Vec3& v) {
    return {v.x, v.y, v.z};
}

static_assert(ORVEX_MAX_HANDS == tracker::kMaxHands);
static_assert(ORVEX_MAX_GESTURES == tracker::kMaxGestures);
constexpr bool same(int a, int b) {
    return a == b;
}
static_assert(same(ORVEX_HAND_STATE_NEW, tracker::kHandNew) &&
              same(ORVEX_HAND_STATE_TRACKED, tracker::kHandTracked) &&
              same(ORVEX_HAND_STATE_LOST, tracker::kHandLost) &&
              same(ORVEX_HAND_STATE_COASTING, tracker::kHandCoasting));
static_assert(same(ORVEX_GESTURE_WAVE, tracker::kGestureWave) &&
              same(ORVEX_GESTURE_CLICK, tracker::kGestureClick));
static_assert(same(ORVEX_GESTURE_STATE_IN_PROGRESS, tracker::kGestureInProgress) &&
              same(ORVEX_GESTURE_STATE_COMPLETED, tracker::kGestureCompleted));

}  // namespace

struct OrvexHandTracker {
    StreamPtr stream;
    tracker::HandTrackerCore core;
    tracker::TrackerOutput output;
    std::array<FrameSlot, ORVEX_MAX_FRAMES_HELD> slots;
    float horizontalFov = tracker::CameraModel::kDefaultHorizontalFov;
    float verticalFov = tracker::CameraModel::kDefaultVerticalFov;

    ~OrvexHandTracker() {
        for (FrameSlot& slot : slots) {
            if (slot.held && slot.frame.depthFrame != nullptr)
                oniFrameRelease(slot.frame.depthFrame);
            slot.held = false;
        }
    }
};

extern "C" {

OrvexStatus orvexInitialize(void) {
    g_initialized = true;
    return ORVEX_STATUS_OK;
}

void orvexShutdown(void) {
    g_initialized = false;
}

const char* orvexGetLastError(void) {
    return g_lastError.data();
}

OrvexStatus orvexInitializeHandTrackerByDevice(OniDeviceHandle device,
                                               OrvexHandTrackerHandle* handle) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no handle cell");
    *handle = nullptr;
    if (!g_initialized) return fail(ORVEX_STATUS_OUT_OF_FLOW, "orvexInitialize was not called");
    if (device == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no device");

    OniStreamHandle raw = nullptr;
    if (oniDeviceCreateStream(device, ONI_SENSOR_DEPTH, &raw) != ONI_STATUS_OK || raw == nullptr) {
        return fail(ORVEX_STATUS_ERROR, "cannot create a depth stream: %s", oniGetExtendedError());
    }
    auto tracker = std::make_unique<OrvexHandTracker>();
    tracker->stream.reset(raw);

    OniVideoMode mode{};
    int size = sizeof(mode);
    if (oniStreamGetProperty(raw, ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, &size) != ONI_STATUS_OK) {
        return fail(ORVEX_STATUS_ERROR, "cannot read the depth video mode: %s",
                    oniGetExtendedError());
    }
    if (mode.pixelFormat != ONI_PIXEL_FORMAT_DEPTH_1_MM) {
        mode.pixelFormat = ONI_PIXEL_FORMAT_DEPTH_1_MM;
        if (oniStreamSetProperty(raw, ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, sizeof(mode)) !=
            ONI_STATUS_OK) {
            return fail(ORVEX_STATUS_ERROR, "the depth stream does not deliver millimetres");
        }
    }
    if (mode.resolutionX <= 0 || mode.resolutionY <= 0) {
        return fail(ORVEX_STATUS_ERROR, "bad depth resolution %dx%d", mode.resolutionX,
                    mode.resolutionY);
    }
    float fov = 0;
    size = sizeof(fov);
    if (oniStreamGetProperty(raw, ONI_STREAM_PROPERTY_HORIZONTAL_FOV, &fov, &size) ==
            ONI_STATUS_OK &&
        fov > 0) {
        tracker->horizontalFov = fov;
    }
    size = sizeof(fov);
    if (oniStreamGetProperty(raw, ONI_STREAM_PROPERTY_VERTICAL_FOV, &fov, &size) == ONI_STATUS_OK &&
        fov > 0) {
        tracker->verticalFov = fov;
    }
    tracker->core.configure(tracker::CameraModel(mode.resolutionX, mode.resolutionY,
                                                 tracker->horizontalFov, tracker->verticalFov));
    if (oniStreamStart(raw) != ONI_STATUS_OK) {
        return fail(ORVEX_STATUS_ERROR, "cannot start the depth stream: %s", oniGetExtendedError());
    }
    *handle = tracker.release();
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexShutdownHandTracker(OrvexHandTrackerHandle handle) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    std::unique_ptr<OrvexHandTracker> owned(handle);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexStartGestureDetection(OrvexHandTrackerHandle handle, OrvexGestureType type) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    if (type != ORVEX_GESTURE_WAVE && type != ORVEX_GESTURE_CLICK) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "unknown gesture type %d", type);
    }
    handle->core.setGestureEnabled(type, true);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexStopGestureDetection(OrvexHandTrackerHandle handle, OrvexGestureType type) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    if (type != ORVEX_GESTURE_WAVE && type != ORVEX_GESTURE_CLICK) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "unknown gesture type %d", type);
    }
    handle->core.setGestureEnabled(type, false);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexStartHandTracking(OrvexHandTrackerHandle handle, const OrvexPoint3f* position,
                                   OrvexHandId* newHandId) {
    if (handle == nullptr || position == nullptr) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker or no position");
    }
    int16_t id = -1;
    switch (handle->core.startHandTracking({position->x, position->y, position->z}, &id)) {
        case tracker::StartResult::kStarted:
        case tracker::StartResult::kAlreadyTracked:
            if (newHandId != nullptr) *newHandId = id;
            return ORVEX_STATUS_OK;
        case tracker::StartResult::kNoRoom:
            return fail(ORVEX_STATUS_NO_ROOM, "%d hands are tracked already", ORVEX_MAX_HANDS);
        case tracker::StartResult::kBadPosition:
            break;
    }
    return fail(ORVEX_STATUS_BAD_ARGUMENT, "bad position (%g, %g, %g)",
                static_cast<double>(position->x), static_cast<double>(position->y),
                static_cast<double>(position->z));
}

OrvexStatus orvexStopHandTracking(OrvexHandTrackerHandle handle, OrvexHandId id) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    if (!handle->core.stopHandTracking(id))
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "no hand %d", id);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexSetHandSmoothingFactor(OrvexHandTrackerHandle handle, float factor) {
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    handle->core.setSmoothingFactor(factor);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexGetHandSmoothingFactor(OrvexHandTrackerHandle handle, float* factor) {
    if (handle == nullptr || factor == nullptr) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker or no result");
    }
    *factor = handle->core.smoothingFactor();
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexReadHandTrackerFrame(OrvexHandTrackerHandle handle,
                                      OrvexHandTrackerFrame** frame) {
    if (frame == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no frame pointer");
    *frame = nullptr;
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    FrameSlot* slot = nullptr;
    for (FrameSlot& s : handle->slots) {
        if (!s.held) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        return fail(ORVEX_STATUS_ERROR, "%d tracker frames are held; release one first",
                    ORVEX_MAX_FRAMES_HELD);
    }

    OniStreamHandle stream = handle->stream.get();
    int ready = -1;
    const OniStatus waited = oniWaitForAnyStream(&stream, 1, &ready, ORVEX_READ_TIMEOUT_MS);
    if (waited == ONI_STATUS_TIME_OUT) {
        return fail(ORVEX_STATUS_TIMEOUT, "no depth frame within %d ms", ORVEX_READ_TIMEOUT_MS);
    }
    if (waited != ONI_STATUS_OK) {
        return fail(ORVEX_STATUS_ERROR, "waiting for a depth frame failed: %s",
                    oniGetExtendedError());
    }
    OniFrame* depth = nullptr;
    if (oniStreamReadFrame(stream, &depth) != ONI_STATUS_OK || depth == nullptr) {
        return fail(ORVEX_STATUS_ERROR, "reading a depth frame failed: %s", oniGetExtendedError());
    }
    const int width = depth->width;
    const int height = depth->height;
    const int stride = depth->stride / static_cast<int>(sizeof(uint16_t));
    if (depth->videoMode.pixelFormat != ONI_PIXEL_FORMAT_DEPTH_1_MM || depth->data == nullptr ||
        width <= 0 || height <= 0 || stride < width ||
        depth->dataSize < depth->stride * (height - 1) + width * 2) {
        oniFrameRelease(depth);
        return fail(ORVEX_STATUS_ERROR, "unusable depth frame (%dx%d, stride %d, %d bytes)", width,
                    height, depth->stride, depth->dataSize);
    }
    const tracker::CameraModel& camera = handle->core.camera();
    if (depth->videoMode.resolutionX != camera.width() ||
        depth->videoMode.resolutionY != camera.height()) {
        // The stream's mode changed: start over in the new geometry (allocates, once).
        handle->core.configure(tracker::CameraModel(depth->videoMode.resolutionX,
                                                    depth->videoMode.resolutionY,
                                                    handle->horizontalFov, handle->verticalFov));
    }
    tracker::DepthView view;
    view.data = static_cast<const uint16_t*>(depth->data);
    view.width = width;
    view.height = height;
    view.stride = stride;
    view.originX = depth->croppingEnabled ? depth->cropOriginX : 0;
    view.originY = depth->croppingEnabled ? depth->cropOriginY : 0;
    tracker::TrackerOutput& out = handle->output;
    handle->core.process(view, depth->timestamp, out);

    for (int i = 0; i < out.handCount; ++i) {
        const tracker::HandReport& h = out.hands[i];
        slot->hands[static_cast<size_t>(i)] = {h.id, toPoint(h.position),
                                               static_cast<OrvexHandState>(h.state)};
    }
    for (int i = 0; i < out.gestureCount; ++i) {
        const tracker::GestureReport& g = out.gestures[i];
        slot->gestures[static_cast<size_t>(i)] = {g.type, toPoint(g.position),
                                                  static_cast<OrvexGestureState>(g.state)};
    }
    slot->frame.handCount = out.handCount;
    slot->frame.hands = slot->hands.data();
    slot->frame.gestureCount = out.gestureCount;
    slot->frame.gestures = slot->gestures.data();
    slot->frame.depthFrame = depth;  // the read's reference, given back on release
    slot->frame.timestamp = depth->timestamp;
    slot->frame.frameIndex = depth->frameIndex;
    slot->held = true;
    *frame = &slot->frame;
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexHandTrackerFrameRelease(OrvexHandTrackerHandle handle,
                                         OrvexHandTrackerFrame* frame) {
    if (frame == nullptr) return ORVEX_STATUS_OK;
    if (handle == nullptr) return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker");
    for (FrameSlot& slot : handle->slots) {
        if (slot.held && &slot.frame == frame) {
            if (slot.frame.depthFrame != nullptr) oniFrameRelease(slot.frame.depthFrame);
            slot.frame = OrvexHandTrackerFrame{};
            slot.held = false;
            return ORVEX_STATUS_OK;
        }
    }
    return fail(ORVEX_STATUS_BAD_ARGUMENT, "not a frame held from this tracker");
}

OrvexStatus orvexConvertHandCoordinatesToDepth(OrvexHandTrackerHandle handle, float x, float y,
                                               float z, float* depthX, float* depthY) {
    if (handle == nullptr || depthX == nullptr || depthY == nullptr) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker or no result");
    }
    handle->core.camera().worldToDepth(x, y, z, depthX, depthY);
    return ORVEX_STATUS_OK;
}

OrvexStatus orvexConvertDepthCoordinatesToHand(OrvexHandTrackerHandle handle, int depthX,
                                               int depthY, int depthZ, float* x, float* y) {
    if (handle == nullptr || x == nullptr || y == nullptr) {
        return fail(ORVEX_STATUS_BAD_ARGUMENT, "no tracker or no result");
    }
    handle->core.camera().depthToWorld(static_cast<float>(depthX), static_cast<float>(depthY),
                                       static_cast<float>(depthZ), x, y);
    return ORVEX_STATUS_OK;
}

}  // extern "C"
