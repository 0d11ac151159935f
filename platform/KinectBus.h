// The boundary to Kinect for Xbox 360 cameras (libfreenect): how many are
// plugged in, opening one by its index, and its depth stream at 640 x 480.
// Frames arrive on the thread that calls pump(), inside that call, as one
// buffer of 640 x 480 16-bit pixels that is valid only during the call.
//
// Backends: FreenectBus.cpp (libfreenect, or fakenect playing a recording)
// and RecordingKinectBus (scripted frames for tests).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr int kKinectWidth = 640;
inline constexpr int kKinectHeight = 480;

// What a camera's pixels hold.
enum class KinectDepthUnit {
    kRaw11Bit,     // raw disparity 0..2046, 2047 = no reading
    kMillimetres,  // from the device's own calibration, 0 = no reading
};

class KinectFrameSink {
  public:
    virtual ~KinectFrameSink() = default;
    // A frame of kKinectWidth x kKinectHeight 16-bit pixels in the
    // machine's byte order, not necessarily aligned (fakenect hands over its
    // file buffer as it is); `timestamp` is the device clock (60 MHz ticks,
    // wrapping at 2^32).
    virtual void depthFrame(const void* pixels, uint32_t timestamp) = 0;
};

enum class PumpResult {
    kGoingOn,  // events handled (frames delivered or not); call again
    kEnded,    // the device is gone or the recording is over: nothing more will come
};

class KinectCamera {
  public:
    virtual ~KinectCamera() = default;
    virtual KinectDepthUnit unit() const = 0;
    // Starts the depth stream; frames then go to `sink` from pump().
    virtual bool startDepth(KinectFrameSink& sink, std::string& error) = 0;
    // Handles the camera's events for at most about `timeoutMs`.
    virtual PumpResult pump(int timeoutMs) = 0;
    virtual void stopDepth() = 0;
};

class KinectBus {
  public:
    virtual ~KinectBus() = default;
    // The number of cameras present now (0 when none, or when the bus
    // cannot be used).
    virtual int count() = 0;
    // Opens camera `index` (0 = the first), or gives a message saying what
    // went wrong and what to do about it.
    virtual std::unique_ptr<KinectCamera> open(int index, std::string& error) = 0;
    // A short name of what is behind this bus, for device names.
    virtual std::string name() const = 0;
};

// The real backend: libfreenect as the dynamic linker found it. Under
// fakenect (a libfreenect that replays a recording named by FAKENECT_PATH)
// there is one camera, and only when FAKENECT_PATH names a recording that
// fakenect can play (fakenect ends the process on anything else).
std::unique_ptr<KinectBus> makeFreenectBus();

// The message for a camera that libfreenect could not open: `code` is its
// result, `log` what it logged meanwhile. Says whether it looks like a
// permission problem and what to do then.
std::string describeOpenFailure(int index, int code, const std::string& log);

}  // namespace platform
