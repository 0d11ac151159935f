// libfreenect behind KinectBus. Every camera gets a libfreenect context of
// its own, so that each one's events are handled by one thread only.
//
// fakenect is a libfreenect that plays a recording instead: it reports one
// camera whatever is plugged in, offers only raw depth (asking it for
// millimetres aborts), and ends the process when FAKENECT_PATH is not set or
// names no playable recording. So under fakenect the recording is checked
// before anything is opened.
#include <dlfcn.h>
#include <libfreenect.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/FakenectRecording.h"
#include "platform/KinectBus.h"

namespace platform {

namespace {

// What libfreenect logs on the calling thread while a LogCapture lives;
// errors outside one go to standard error.
thread_local std::string* tCapture = nullptr;

void onLog(freenect_context* /*ctx*/, freenect_loglevel level, const char* msg) {
    if (tCapture != nullptr) {
        tCapture->append(msg);
    } else if (level <= FREENECT_LOG_ERROR) {
        std::fprintf(stderr, "libfreenect: %s", msg);
    }
}

struct LogCapture {
    std::string text;
    LogCapture() { tCapture = &text; }
    ~LogCapture() { tCapture = nullptr; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string trimmed() const {
        std::string t = text;
        while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
        return t;
    }
};

bool loadedFakenect() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&freenect_init), &info) == 0 || info.dli_fname == nullptr)
        return false;
    return std::string(info.dli_fname).find("/fakenect/") != std::string::npos;
}

std::string fakenectPath() {
    const char* path = std::getenv("FAKENECT_PATH");
    return path != nullptr ? path : "";
}

std::string uriOf(int index) {
    return "freenect://" + std::to_string(index);
}

struct ContextCloser {
    void operator()(freenect_context* ctx) const { freenect_shutdown(ctx); }
};
using Context = std::unique_ptr<freenect_context, ContextCloser>;

Context makeContext(std::string& error) {
    LogCapture log;
    freenect_context* ctx = nullptr;
    const int rc = freenect_init(&ctx, nullptr);
    if (rc < 0 || ctx == nullptr) {
        error = "libfreenect cannot start (" + std::to_string(rc) + "): " + log.trimmed();
        return nullptr;
    }
    Context owned(ctx);
    freenect_set_log_callback(ctx, onLog);
    freenect_set_log_level(ctx, FREENECT_LOG_ERROR);
    freenect_select_subdevices(ctx, FREENECT_DEVICE_CAMERA);
    return owned;
}

class FreenectCamera final : public KinectCamera {
  public:
    FreenectCamera(Context ctx, freenect_device* device, KinectDepthUnit unit)
        : ctx_(std::move(ctx)), device_(device), unit_(unit) {
        freenect_set_user(device_, this);
    }
    ~FreenectCamera() override {
        if (started_) freenect_stop_depth(device_);
        freenect_close_device(device_);
    }
    FreenectCamera(const FreenectCamera&) = delete;
    FreenectCamera& operator=(const FreenectCamera&) = delete;

    KinectDepthUnit unit() const override { return unit_; }

    bool startDepth(KinectFrameSink& sink, std::string& error) override {
        LogCapture log;
        sink_ = &sink;
        const freenect_frame_mode mode = freenect_find_depth_mode(
            FREENECT_RESOLUTION_MEDIUM,
            unit_ == KinectDepthUnit::kMillimetres ? FREENECT_DEPTH_MM : FREENECT_DEPTH_11BIT);
        freenect_set_depth_callback(device_, &FreenectCamera::onDepth);
        if (!mode.is_valid || freenect_set_depth_mode(device_, mode) < 0) {
            error = "the Kinect offers no 640 x 480 depth mode: " + log.trimmed();
            return false;
        }
        if (const int rc = freenect_start_depth(device_); rc < 0) {
            error = "the Kinect's depth stream does not start (" + std::to_string(rc) +
                    "): " + log.trimmed();
            return false;
        }
        started_ = true;
        return true;
    }

    PumpResult pump(int timeoutMs) override {
        timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int rc = freenect_process_events_timeout(ctx_.get(), &timeout);
        constexpr int kInterrupted = -10;  // LIBUSB_ERROR_INTERRUPTED: a signal, nothing lost
        return rc >= 0 || rc == kInterrupted ? PumpResult::kGoingOn : PumpResult::kEnded;
    }

    void stopDepth() override {
        if (started_) freenect_stop_depth(device_);
        started_ = false;
    }

  private:
    static void onDepth(freenect_device* device, void* depth, uint32_t timestamp) {
        auto* self = static_cast<FreenectCamera*>(freenect_get_user(device));
        if (self != nullptr && self->sink_ != nullptr && depth != nullptr)
            self->sink_->depthFrame(depth, timestamp);
    }

    Context ctx_;
    freenect_device* device_;
    const KinectDepthUnit unit_;
    KinectFrameSink* sink_ = nullptr;
    bool started_ = false;
};

class FreenectBus final : public KinectBus {
  public:
    FreenectBus() : fakenect_(loadedFakenect()) {}

    int count() override {
        if (fakenect_) return fakenectPath().empty() ? 0 : 1;
        std::string error;
        Context ctx = makeContext(error);
        if (!ctx) return 0;
        LogCapture quiet;
        return std::max(0, freenect_num_devices(ctx.get()));
    }

    std::unique_ptr<KinectCamera> open(int index, std::string& error) override {
        const std::string uri = uriOf(index);
        if (fakenect_) {
            if (fakenectPath().empty()) {
                error = uri + ": fakenect plays the recording that FAKENECT_PATH names, and " +
                        "FAKENECT_PATH is not set";
                return nullptr;
            }
            if (index != 0) {
                error = uri + ": no such Kinect (fakenect plays one recording, as freenect://0)";
                return nullptr;
            }
            if (!checkFakenectRecording(fakenectPath(), error)) {
                error = uri + ": " + error;
                return nullptr;
            }
        }
        Context ctx = makeContext(error);
        if (!ctx) {
            error = uri + ": " + error;
            return nullptr;
        }
        LogCapture log;
        const int present = freenect_num_devices(ctx.get());
        if (index >= present) {
            error = uri + ": no such Kinect (libfreenect finds " +
                    std::to_string(std::max(0, present)) +
                    "). Is it plugged in, with its own power supply connected?";
            return nullptr;
        }
        freenect_device* device = nullptr;
        if (const int rc = freenect_open_device(ctx.get(), &device, index);
            rc < 0 || device == nullptr) {
            error = describeOpenFailure(index, rc, log.trimmed());
            return nullptr;
        }
        KinectDepthUnit unit = KinectDepthUnit::kRaw11Bit;
        if (!fakenect_ &&
            freenect_find_depth_mode(FREENECT_RESOLUTION_MEDIUM, FREENECT_DEPTH_MM).is_valid)
            unit = KinectDepthUnit::kMillimetres;
        return std::make_unique<FreenectCamera>(std::move(ctx), device, unit);
    }

    std::string name() const override { return fakenect_ ? "fakenect" : "libfreenect"; }

  private:
    const bool fakenect_;
};

}  // namespace

std::unique_ptr<KinectBus> makeFreenectBus() {
    return std::make_unique<FreenectBus>();
}

std::string describeOpenFailure(int index, int code, const std::string& log) {
    constexpr int kAccess = -3;  // LIBUSB_ERROR_ACCESS
    const bool permission = code == kAccess || log.find("ACCESS") != std::string::npos ||
                            log.find("ermission") != std::string::npos;
    const std::string uri = uriOf(index);
    const std::string what = log.empty() ? "error " + std::to_string(code) : log;
    if (permission) {
        return uri + ": no permission to use the Kinect's USB device (" + what +
               "). Add your user to the plugdev group (sudo adduser $USER plugdev), log in " +
               "again and plug the Kinect in again";
    }
    return uri + ": the Kinect cannot be opened (" + what +
           "). Plug it in again; if it then works only as root, add your user to the plugdev " +
           "group (sudo adduser $USER plugdev) and log in again";
}

}  // namespace platform
