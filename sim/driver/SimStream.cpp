#include "sim/driver/SimStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/driver/DepthProperties.h"

namespace sim::driver {

namespace {

constexpr int kMaxValue = 10000;  // mm, the largest reading

int fpsOf(const Scene& scene) {
    return std::max(1, static_cast<int>(std::lround(scene.sensor.fps)));
}

}  // namespace

std::vector<OniVideoMode> SimStream::videoModes(const Scene& scene) {
    const int fps = fpsOf(scene);
    const OniVideoMode own{ONI_PIXEL_FORMAT_DEPTH_1_MM, scene.sensor.projection.width,
                           scene.sensor.projection.height, fps};
    const int otherWidth = own.resolutionX == 320 ? 640 : 320;
    const OniVideoMode other{ONI_PIXEL_FORMAT_DEPTH_1_MM, otherWidth, otherWidth * 3 / 4, fps};
    return {own, other};  // the scene's own mode first: it is the default
}

SimStream::SimStream(std::shared_ptr<const Scene> scene, double speed, bool loop)
    : scene_(std::move(scene)), frameCount_(scene_->frameCount()), speed_(speed), loop_(loop) {
    mode_ = videoModes(*scene_).front();
    renderer_ = std::make_shared<Renderer>(*scene_);
    crop_ = OniCropping{0, 0, 0, mode_.resolutionX, mode_.resolutionY};
}

SimStream::~SimStream() {
    SimStream::stop();
}

OniStatus SimStream::start() {
    std::lock_guard lock(mutex_);
    if (running_) return ONI_STATUS_OK;
    if (vanished_) return ONI_STATUS_ERROR;
    quit_ = false;
    triggered_ = false;  // no-drop: the first frame too waits for a reader
    next_ = 0;
    // OpenNI 2 accepts frames only once start() has returned; the first frame
    // follows a moment later rather than a whole frame period.
    anchorTime_ = Clock::now() + std::chrono::milliseconds(3);
    anchorFrame_ = 0;
    try {
        thread_ = std::thread(&SimStream::run, this);
    } catch (const std::exception&) {
        return ONI_STATUS_ERROR;
    }
    running_ = true;
    return ONI_STATUS_OK;
}

void SimStream::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        quit_ = true;
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SimStream::trigger() {
    {
        std::lock_guard lock(mutex_);
        triggered_ = true;
    }
    wake_.notify_all();
}

void SimStream::setSpeed(double speed) {
    {
        std::lock_guard lock(mutex_);
        speed_ = speed;
        anchorTime_ = Clock::now();
        anchorFrame_ = next_;
    }
    wake_.notify_all();
}

void SimStream::setLoop(bool loop) {
    {
        std::lock_guard lock(mutex_);
        loop_ = loop;
    }
    wake_.notify_all();
}

void SimStream::run() {
    const double fps = scene_->sensor.fps;
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (vanished_ || (!loop_ && next_ >= frameCount_)) {  // gone, or the scene is over
            wake_.wait(lock);
            continue;
        }
        const int k = static_cast<int>(next_ % frameCount_);
        if (vanishesAt(k)) {
            vanished_ = true;
            continue;
        }
        if (const Fault* stall = stallAt(k); stall != nullptr && stalledBefore_ != next_) {
            stalledBefore_ = next_;
            const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(stall->duration));
            wake_.wait_until(lock, until, [&] { return quit_; });
            // The scene goes on where it stopped.
            anchorTime_ = Clock::now();
            anchorFrame_ = next_;
            continue;
        }
        if (speed_ <= 0) {
            if (!triggered_) {
                wake_.wait(lock);
                continue;
            }
        } else {
            const auto now = Clock::now();
            const double perFrame = 1.0 / (fps * speed_);
            const auto due =
                anchorTime_ +
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                    static_cast<double>(next_ - anchorFrame_) * perFrame));
            if (now < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            // A sensor does not wait for a slow renderer: skip to the clock.
            const double elapsed = std::chrono::duration<double>(now - anchorTime_).count();
            next_ = std::max(next_, anchorFrame_ + static_cast<int64_t>(elapsed / perFrame));
            if (!loop_ && next_ >= frameCount_) continue;
        }
        const int64_t n = next_;
        const OniVideoMode mode = mode_;
        const OniCropping crop = crop_;
        const bool mirror = mirror_;
        const std::shared_ptr<Renderer> renderer = renderer_;
        lock.unlock();
        OniFrame* frame = produce(*renderer, mode, crop, mirror, n);
        lock.lock();
        ++next_;
        // Requests that came while this frame was made asked for this frame;
        // the ones from now on, after it is visible, ask for the next.
        triggered_ = false;
        if (frame != nullptr) {
            lock.unlock();
            raiseNewFrame(frame);
            getServices().releaseFrame(frame);
            lock.lock();
        }
    }
}

OniFrame* SimStream::produce(Renderer& renderer, const OniVideoMode& mode, const OniCropping& crop,
                             bool mirror, int64_t n) {
    const int W = renderer.width(), H = renderer.height();
    image_.resize(static_cast<size_t>(W) * static_cast<size_t>(H));
    const int k = static_cast<int>(n % frameCount_);
    renderer.render(k, image_.data());

    OniFrame* frame = getServices().acquireFrame();
    if (frame == nullptr) return nullptr;
    int x0 = 0, y0 = 0, w = W, h = H;
    if (crop.enabled) {
        x0 = std::clamp(crop.originX, 0, W - 1);
        y0 = std::clamp(crop.originY, 0, H - 1);
        w = std::clamp(crop.width, 1, W - x0);
        h = std::clamp(crop.height, 1, H - y0);
    }
    if (frame->dataSize < w * h * static_cast<int>(sizeof(uint16_t))) {  // cannot happen
        getServices().releaseFrame(frame);
        return nullptr;
    }
    auto* out = static_cast<uint16_t*>(frame->data);
    for (int j = 0; j < h; ++j) {
        const uint16_t* src = image_.data() + static_cast<size_t>(y0 + j) * static_cast<size_t>(W);
        uint16_t* dst = out + static_cast<size_t>(j) * static_cast<size_t>(w);
        if (mirror) {
            for (int i = 0; i < w; ++i) dst[i] = src[W - 1 - (x0 + i)];
        } else {
            std::memcpy(dst, src + x0, static_cast<size_t>(w) * sizeof(uint16_t));
        }
    }
    frame->dataSize = w * h * static_cast<int>(sizeof(uint16_t));
    frame->sensorType = ONI_SENSOR_DEPTH;
    frame->videoMode = mode;
    frame->width = w;
    frame->height = h;
    frame->croppingEnabled = crop.enabled ? TRUE : FALSE;
    frame->cropOriginX = crop.enabled ? x0 : 0;
    frame->cropOriginY = crop.enabled ? y0 : 0;
    frame->stride = w * static_cast<int>(sizeof(uint16_t));
    frame->frameIndex = static_cast<int>(n + 1);
    frame->timestamp =
        static_cast<uint64_t>(std::llround(static_cast<double>(n) * 1e6 / scene_->sensor.fps));
    if (!scene_->faults.empty()) spoil(frame, k, mode);
    return frame;
}

const Fault* SimStream::stallAt(int k) const {
    for (const Fault& f : scene_->faults) {
        if (f.kind == Fault::Kind::kStall && scene_->frameAt(f.at) == k) return &f;
    }
    return nullptr;
}

bool SimStream::vanishesAt(int k) const {
    for (const Fault& f : scene_->faults) {
        if (f.kind == Fault::Kind::kVanish && k >= scene_->frameAt(f.at)) return true;
    }
    return false;
}

void SimStream::spoil(OniFrame* frame, int k, const OniVideoMode& mode) {
    // The frame buffer holds a whole frame of the video mode; nothing here
    // writes past it, whatever sizes the frame then claims.
    const int W = mode.resolutionX;
    const int H = mode.resolutionY;
    const int capacity = W * H * static_cast<int>(sizeof(uint16_t));
    auto* pixels = static_cast<uint16_t*>(frame->data);
    for (const Fault& f : scene_->faults) {
        const int first = scene_->frameAt(f.at);
        const int count =
            std::max(1, static_cast<int>(std::lround(f.duration * scene_->sensor.fps)));
        if (k < first || k >= first + count) continue;
        const int pixelCount = frame->dataSize / static_cast<int>(sizeof(uint16_t));
        switch (f.kind) {
            case Fault::Kind::kZeros:
                std::fill(pixels, pixels + pixelCount, uint16_t{0});
                break;
            case Fault::Kind::kRange:
                // Readings past the sensor's range, up to the largest 16-bit value.
                for (int i = 0; i < pixelCount; ++i) {
                    pixels[i] = static_cast<uint16_t>(
                        kMaxValue + (static_cast<uint32_t>(i) * 7919U + static_cast<uint32_t>(k)) %
                                        (65536U - kMaxValue));
                }
                break;
            case Fault::Kind::kEmpty:
                frame->width = 0;
                frame->height = 0;
                frame->stride = 0;
                frame->dataSize = 0;
                break;
            case Fault::Kind::kSize:
                // Five ways for the sizes to disagree with the video mode, in turn.
                switch ((k - first) % 5) {
                    case 0:  // a quarter of the picture, consistent in itself
                        frame->width = W / 2;
                        frame->height = H / 2;
                        frame->stride = W;
                        frame->dataSize = (W / 2) * (H / 2) * 2;
                        break;
                    case 1:  // rows twice as far apart: half of them lie past the data
                        frame->width = W;
                        frame->height = H;
                        frame->stride = 4 * W;
                        frame->dataSize = capacity;
                        break;
                    case 2:  // twice as wide as the mode, half as high
                        frame->width = 2 * W;
                        frame->height = H / 2;
                        frame->stride = 4 * W;
                        frame->dataSize = capacity;
                        break;
                    case 3:  // half the bytes the picture needs
                        frame->width = W;
                        frame->height = H;
                        frame->stride = 2 * W;
                        frame->dataSize = capacity / 2;
                        break;
                    default:  // a stride shorter than a row
                        frame->width = W;
                        frame->height = H;
                        frame->stride = W;
                        frame->dataSize = capacity;
                        break;
                }
                frame->croppingEnabled = FALSE;
                frame->cropOriginX = 0;
                frame->cropOriginY = 0;
                break;
            case Fault::Kind::kStall:
            case Fault::Kind::kVanish:
                break;
        }
    }
}

int SimStream::getRequiredFrameSize() {
    std::lock_guard lock(mutex_);
    return mode_.resolutionX * mode_.resolutionY * static_cast<int>(sizeof(uint16_t));
}

OniBool SimStream::isPropertySupported(int propertyId) {
    return driver::isDepthStreamProperty(propertyId) ? TRUE : FALSE;
}

OniStatus SimStream::getProperty(int propertyId, void* data, int* pDataSize) {
    std::lock_guard lock(mutex_);
    const Projection& proj = scene_->sensor.projection;
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
            return give(mode_, data, pDataSize);
        case ONI_STREAM_PROPERTY_HORIZONTAL_FOV:
            return give(proj.hfov, data, pDataSize);
        case ONI_STREAM_PROPERTY_VERTICAL_FOV:
            return give(proj.vfov, data, pDataSize);
        case ONI_STREAM_PROPERTY_MAX_VALUE:
            return give(kMaxValue, data, pDataSize);
        case ONI_STREAM_PROPERTY_MIN_VALUE:
            return give(0, data, pDataSize);
        case ONI_STREAM_PROPERTY_STRIDE: {
            const int width = crop_.enabled ? crop_.width : mode_.resolutionX;
            return give(width * static_cast<int>(sizeof(uint16_t)), data, pDataSize);
        }
        case ONI_STREAM_PROPERTY_MIRRORING:
            return give(static_cast<OniBool>(mirror_ ? TRUE : FALSE), data, pDataSize);
        case ONI_STREAM_PROPERTY_CROPPING:
            return give(crop_, data, pDataSize);
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

OniStatus SimStream::setProperty(int propertyId, const void* data, int dataSize) {
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE: {
            OniVideoMode mode;
            if (!take(data, dataSize, mode)) return ONI_STATUS_BAD_PARAMETER;
            bool offered = false;
            for (const OniVideoMode& m : videoModes(*scene_))
                offered |= m.pixelFormat == mode.pixelFormat && m.resolutionX == mode.resolutionX &&
                           m.resolutionY == mode.resolutionY && m.fps == mode.fps;
            if (!offered) return ONI_STATUS_NOT_SUPPORTED;
            std::shared_ptr<Renderer> renderer;
            try {
                renderer = std::make_shared<Renderer>(*scene_, mode.resolutionX, mode.resolutionY);
            } catch (const std::bad_alloc&) {
                return ONI_STATUS_ERROR;
            }
            {
                std::lock_guard lock(mutex_);
                // OpenNI sizes frame buffers when the stream starts.
                if (running_) return ONI_STATUS_OUT_OF_FLOW;
                mode_ = mode;
                renderer_ = std::move(renderer);
                crop_ = OniCropping{0, 0, 0, mode.resolutionX, mode.resolutionY};
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
            {
                std::lock_guard lock(mutex_);
                if (crop.enabled) {
                    if (crop.originX < 0 || crop.originY < 0 || crop.width < 1 || crop.height < 1 ||
                        crop.originX + crop.width > mode_.resolutionX ||
                        crop.originY + crop.height > mode_.resolutionY)
                        return ONI_STATUS_BAD_PARAMETER;
                    crop_ = crop;
                } else {
                    crop_ = OniCropping{0, 0, 0, mode_.resolutionX, mode_.resolutionY};
                }
                crop = crop_;
            }
            raisePropertyChanged(ONI_STREAM_PROPERTY_CROPPING, &crop, sizeof crop);
            return ONI_STATUS_OK;
        }
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

void SimStream::notifyAllProperties() {
    OniVideoMode mode;
    OniCropping crop;
    OniBool mirror;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        crop = crop_;
        mirror = mirror_ ? TRUE : FALSE;
    }
    const Projection& proj = scene_->sensor.projection;
    const int minValue = 0, maxValue = kMaxValue;
    const int stride =
        (crop.enabled ? crop.width : mode.resolutionX) * static_cast<int>(sizeof(uint16_t));
    raisePropertyChanged(ONI_STREAM_PROPERTY_VIDEO_MODE, &mode, sizeof mode);
    raisePropertyChanged(ONI_STREAM_PROPERTY_HORIZONTAL_FOV, &proj.hfov, sizeof proj.hfov);
    raisePropertyChanged(ONI_STREAM_PROPERTY_VERTICAL_FOV, &proj.vfov, sizeof proj.vfov);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MIN_VALUE, &minValue, sizeof minValue);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MAX_VALUE, &maxValue, sizeof maxValue);
    raisePropertyChanged(ONI_STREAM_PROPERTY_STRIDE, &stride, sizeof stride);
    raisePropertyChanged(ONI_STREAM_PROPERTY_MIRRORING, &mirror, sizeof mirror);
    raisePropertyChanged(ONI_STREAM_PROPERTY_CROPPING, &crop, sizeof crop);
}

}  // namespace sim::driver
