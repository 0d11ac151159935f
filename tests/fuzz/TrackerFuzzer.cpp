// The hand tracker on frames from anywhere. The input is read as a script of
// operations; frames are painted from it (a background and a few blobs at
// hand-like depths, then raw input bytes over part of the image) so that the
// tracker finds candidates and follows hands often enough to be exercised.
//
// Each frame occupies exactly the memory its view covers (see FrameArena), so
// a read outside it is an AddressSanitizer report. After each frame the
// output is checked against what the script asked for: hands appear only when
// started, every start is answered in the next frame, stopped hands are
// reported lost once, identifiers are unique, gestures are of enabled types.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/tracker/HandTrackerCore.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/fuzz/Problems.h"

// Poisoning of the frame arena (below) where AddressSanitizer is on.
#if defined(__SANITIZE_ADDRESS__)
#define TOLVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_ASAN 1
#endif
#endif
#ifdef TOLVANE_ASAN
#include <sanitizer/asan_interface.h>
#define TOLVANE_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TOLVANE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TOLVANE_POISON(p, n) ((void)(p), (void)(n))
#define TOLVANE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace fuzz {
namespace {

using tracker::Vec3;

// Hands farther than this from the sensor cannot come from a depth frame
// (16-bit millimetres); starts beyond it are allowed but not held to the
// finiteness checks.
constexpr float kSaneRange = 100000.0F;

// Operations and frames per input: enough frames for a wave or a push and a
// hand followed after it, few enough to keep several runs a second.
constexpr int kMaxSteps = 160;
constexpr int kMaxFrames = 64;

class ByteReader {
  public:
    explicit ByteReader(Input in) : in_(in) {}
    bool empty() const { return pos_ >= in_.size(); }
    size_t left() const { return in_.size() - pos_; }
    uint8_t byte() { return pos_ < in_.size() ? in_[pos_++] : 0; }
    // Little-endian; each read is its own statement, so the order is fixed.
    uint16_t u16() {
        const unsigned low = byte();
        return static_cast<uint16_t>(low | unsigned{byte()} << 8);
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | uint32_t{u16()} << 16;
    }
    uint64_t u64() {
        const uint64_t low = u32();
        return low | uint64_t{u32()} << 32;
    }
    // lo..hi inclusive; hi - lo below 65536.
    int range(int lo, int hi) { return lo + static_cast<int>(u16() % (hi - lo + 1)); }
    float rawFloat() {
        const uint32_t bits = u32();
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // A depth reading: mostly where hands and bodies are, sometimes anything.
    uint16_t depth() {
        const uint8_t kind = byte();
        if (kind < 160) return static_cast<uint16_t>(400 + u16() % 3600);
        if (kind < 200) return 0;
        return u16();
    }
    Input take(size_t n) {
        n = std::min(n, left());
        const Input out = in_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

  private:
    Input in_;
    size_t pos_ = 0;
};

tracker::CameraModel pickCamera(ByteReader& in) {
    switch (in.byte() % 4) {
        case 0:
            return tracker::CameraModel();
        case 1:
            return tracker::CameraModel(640, 480, tracker::CameraModel::kDefaultHorizontalFov,
                                        tracker::CameraModel::kDefaultVerticalFov);
        case 2:
            return tracker::CameraModel(160, 120, tracker::CameraModel::kDefaultHorizontalFov,
                                        tracker::CameraModel::kDefaultVerticalFov);
        default: {
            const int w = in.range(1, 800);
            const int h = in.range(1, 600);
            const float hfov = 0.2F + static_cast<float>(in.byte()) / 255.0F * 2.6F;
            const float vfov = 0.2F + static_cast<float>(in.byte()) / 255.0F * 2.6F;
            return tracker::CameraModel(w, h, hfov, vfov);
        }
    }
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Frames live at the end of one buffer kept for the whole process (fresh
// large allocations cost a page fault per page under AddressSanitizer); the
// part before a frame is poisoned, so a read outside the frame is still a
// report, as it would be with a buffer of its own.
class FrameArena {
  public:
    // Larger than any frame paintFrame makes: 816 x 616 with 7 pixels of padding.
    static constexpr size_t kCapacity = 823 * 616;

    uint16_t* take(size_t size) {
        unpoison();
        uint16_t* frame = buffer_.data() + (kCapacity - size);
        TOLVANE_POISON(buffer_.data(), (kCapacity - size) * sizeof(uint16_t));
        return frame;
    }
    void unpoison() { TOLVANE_UNPOISON(buffer_.data(), kCapacity * sizeof(uint16_t)); }
    ~FrameArena() { unpoison(); }

  private:
    std::vector<uint16_t> buffer_ = std::vector<uint16_t>(kCapacity);
};

FrameArena& arena() {
    static FrameArena a;
    return a;
}

struct Frame {
    uint16_t* pixels = nullptr;
    tracker::DepthView view;
};

Frame paintFrame(ByteReader& in, const tracker::CameraModel& camera) {
    Frame f;
    const uint8_t shape = in.byte();
    if (shape % 16 == 15) return f;  // no data at all
    tracker::DepthView& v = f.view;
    if (shape % 4 != 0) {
        v.width = camera.width();
        v.height = camera.height();
        v.stride = v.width;
    } else {
        // A cropped window anywhere on the image, or sticking out of it.
        v.width = in.range(1, camera.width() + 16);
        v.height = in.range(1, camera.height() + 16);
        v.originX = in.range(0, camera.width());
        v.originY = in.range(0, camera.height());
        v.stride = v.width + in.range(0, 7);
    }
    const size_t size = static_cast<size_t>(v.stride) * static_cast<size_t>(v.height - 1) +
                        static_cast<size_t>(v.width);
    f.pixels = arena().take(size);
    const uint16_t background = (shape & 0x20) ? in.depth() : 0;
    std::fill(f.pixels, f.pixels + size, background);

    // Blobs in image coordinates: hands, heads, arms, furniture.
    const int blobs = in.byte() % 6;
    for (int b = 0; b < blobs; ++b) {
        const int cu = in.range(-20, camera.width() + 20);
        const int cv = in.range(-20, camera.height() + 20);
        const int ru = in.range(1, 60);
        const int rv = in.range(1, 60);
        const uint16_t z = in.depth();
        for (int y = std::max(0, cv - rv - v.originY);
             y < std::min(v.height, cv + rv + 1 - v.originY); ++y) {
            for (int x = std::max(0, cu - ru - v.originX);
                 x < std::min(v.width, cu + ru + 1 - v.originX); ++x) {
                const float du = static_cast<float>(x + v.originX - cu) / static_cast<float>(ru);
                const float dv = static_cast<float>(y + v.originY - cv) / static_cast<float>(rv);
                if (du * du + dv * dv <= 1.0F) {
                    f.pixels[static_cast<size_t>(y) * static_cast<size_t>(v.stride) +
                             static_cast<size_t>(x)] = z;
                }
            }
        }
    }
    // Raw bytes over part of the frame: dropouts, speckle, garbage.
    if (shape & 0x40) {
        const size_t at = in.u32() % size;
        const Input raw = in.take(std::min<size_t>(in.byte() * 2u, (size - at) * 2));
        std::memcpy(f.pixels + at, raw.data(), raw.size() & ~size_t{1});
    }
    v.data = f.pixels;
    return f;
}

class TrackerScript {
  public:
    explicit TrackerScript(Input input) : in_(input) {}

    std::string run() {
        core_.configure(pickCamera(in_));
        for (int step = 0; step < kMaxSteps && frames_ < kMaxFrames && !in_.empty() && p_.empty();
             ++step) {
            switch (in_.byte() % 10) {
                case 0:
                case 1:
                case 2:
                case 3:
                    frame();
                    break;
                case 4:
                case 5:
                    start();
                    break;
                case 6:
                    stop();
                    break;
                case 7: {
                    const int type = in_.range(-1, 2);
                    core_.setGestureEnabled(type, (in_.byte() & 1) != 0);
                    break;
                }
                case 8:
                    core_.setSmoothingFactor(in_.byte() < 128
                                                 ? static_cast<float>(in_.byte()) / 255.0F
                                                 : in_.rawFloat());
                    break;
                default:
                    if (in_.byte() < 64) {
                        core_.configure(pickCamera(in_));
                        tracked_.clear();
                        started_.clear();
                        stopped_.clear();
                    }
                    break;
            }
        }
        return p_.text();
    }

  private:
    int occupied() const {
        return static_cast<int>(tracked_.size() + started_.size() + stopped_.size());
    }

    // A start request that must be refused.
    static constexpr Vec3 kNowhere{0.0F, 0.0F, -1.0F};

    Vec3 startPosition() {
        const tracker::CameraModel& camera = core_.camera();
        switch (in_.byte() % 4) {
            case 0: {  // on a pixel of the image, at some depth
                const int u = in_.range(-10, camera.width() + 10);
                const int v = in_.range(-10, camera.height() + 10);
                const uint16_t z = in_.depth();
                return camera.depthToWorld(static_cast<float>(u), static_cast<float>(v),
                                           static_cast<float>(z));
            }
            case 1: {  // where a gesture was reported, as the viewer does
                const uint8_t pick = in_.byte();
                if (out_.gestureCount == 0) return kNowhere;
                return out_.gestures[pick % out_.gestureCount].position;
            }
            case 2: {  // next to a tracked hand
                const uint8_t pick = in_.byte();
                const Vec3 offset{static_cast<float>(in_.range(-200, 200)),
                                  static_cast<float>(in_.range(-200, 200)),
                                  static_cast<float>(in_.range(-200, 200))};
                if (out_.handCount == 0) return kNowhere;
                return out_.hands[pick % out_.handCount].position + offset;
            }
            default:
                return {in_.rawFloat(), in_.rawFloat(), in_.rawFloat()};
        }
    }

    void start() {
        const Vec3 at = startPosition();
        const bool bad = !finite(at) || !(at.z > 0);
        const bool sane = std::fabs(at.x) < kSaneRange && std::fabs(at.y) < kSaneRange &&
                          std::fabs(at.z) < kSaneRange;
        int16_t id = -1;
        const int before = occupied();
        const tracker::StartResult r = core_.startHandTracking(at, &id);
        using tracker::StartResult;
        p_.expect((r == StartResult::kBadPosition) == bad, "start at %g,%g,%g: result %d",
                  double{at.x}, double{at.y}, double{at.z}, static_cast<int>(r));
        switch (r) {
            case StartResult::kStarted:
                p_.expect(before < tracker::kMaxHands, "started with %d slots taken", before);
                p_.expect(
                    id > 0 && !tracked_.count(id) && !started_.count(id) && !stopped_.count(id),
                    "started with identifier %d already in use", id);
                started_.insert(id);
                if (!sane) sane_ = false;
                break;
            case StartResult::kAlreadyTracked:
                p_.expect(tracked_.count(id) || started_.count(id),
                          "already tracked as %d, which is not tracked", id);
                break;
            case StartResult::kNoRoom:
                p_.expect(before == tracker::kMaxHands, "no room with %d slots taken", before);
                break;
            case StartResult::kBadPosition:
                break;
        }
    }

    void stop() {
        int16_t id = static_cast<int16_t>(in_.u16());
        const uint8_t pick = in_.byte();
        if (pick < 200 && !tracked_.empty()) {
            id = *std::next(tracked_.begin(), pick % tracked_.size());
        } else if (pick < 230 && !started_.empty()) {
            id = *std::next(started_.begin(), pick % started_.size());
        }
        const bool known = tracked_.count(id) || started_.count(id);
        const bool stopped = core_.stopHandTracking(id);
        p_.expect(stopped == known, "stopping %d gave %d", id, stopped);
        if (stopped) {
            tracked_.erase(id);
            started_.erase(id);
            stopped_.insert(id);
        }
    }

    void frame() {
        ++frames_;
        const Frame f = paintFrame(in_, core_.camera());
        switch (in_.byte() % 4) {
            case 0:
                timestamp_ = in_.u64();  // anything, backwards included
                break;
            case 1:
                timestamp_ += in_.u32();
                break;
            default:
                timestamp_ += 33333;
                break;
        }
        core_.process(f.view, timestamp_, out_);
        if (trace_) printOutput(f.view);
        checkOutput();
    }

    void printOutput(const tracker::DepthView& v) const {
        std::fprintf(stderr, "frame %dx%d+%d+%d at %llu us:", v.width, v.height, v.originX,
                     v.originY, static_cast<unsigned long long>(timestamp_));
        for (int i = 0; i < out_.handCount; ++i) {
            const tracker::HandReport& h = out_.hands[i];
            std::fprintf(stderr, " hand %d (%u) %.0f,%.0f,%.0f;", h.id, h.state,
                         double{h.position.x}, double{h.position.y}, double{h.position.z});
        }
        for (int i = 0; i < out_.gestureCount; ++i) {
            const tracker::GestureReport& g = out_.gestures[i];
            std::fprintf(stderr, " gesture %d (%u) %.0f,%.0f,%.0f;", g.type, g.state,
                         double{g.position.x}, double{g.position.y}, double{g.position.z});
        }
        std::fprintf(stderr, "\n");
    }

    void checkOutput() {
        const tracker::TrackerOutput& out = out_;
        if (!p_.expect(out.handCount >= 0 && out.handCount <= tracker::kMaxHands, "%d hands",
                       out.handCount) ||
            !p_.expect(out.gestureCount >= 0 && out.gestureCount <= tracker::kMaxGestures,
                       "%d gestures", out.gestureCount)) {
            return;
        }
        std::set<int16_t> reported;
        std::set<int16_t> tracked;
        for (int i = 0; i < out.handCount; ++i) {
            const tracker::HandReport& h = out.hands[i];
            p_.expect(reported.insert(h.id).second, "identifier %d reported twice", h.id);
            const bool known = tracked_.count(h.id) || started_.count(h.id) || stopped_.count(h.id);
            p_.expect(known, "hand %d was never started", h.id);
            if (h.state == tracker::kHandLost) continue;
            const uint32_t allowed =
                tracker::kHandTracked | tracker::kHandNew | tracker::kHandCoasting;
            // Tracked, or (coasting alone) kept where it left the view.
            p_.expect(((h.state & tracker::kHandTracked) && (h.state & ~allowed) == 0) ||
                          h.state == tracker::kHandCoasting,
                      "hand %d in state %u", h.id, h.state);
            p_.expect(!stopped_.count(h.id), "hand %d still tracked after it was stopped", h.id);
            p_.expect(((h.state & tracker::kHandNew) != 0) == (started_.count(h.id) != 0),
                      "hand %d in state %u", h.id, h.state);
            if (sane_) {
                p_.expect(finite(h.position), "hand %d at %g,%g,%g", h.id, double{h.position.x},
                          double{h.position.y}, double{h.position.z});
            }
            tracked.insert(h.id);
        }
        for (const int16_t id : started_) {
            p_.expect(reported.count(id), "hand %d started but not reported", id);
        }
        for (const int16_t id : stopped_) {
            p_.expect(reported.count(id) && !tracked.count(id), "hand %d stopped but not lost", id);
        }
        for (const int16_t id : tracked_) {
            p_.expect(reported.count(id), "hand %d vanished without being lost", id);
        }
        p_.expect(core_.handCount() == static_cast<int>(tracked.size()),
                  "%d hands tracked, %zu reported", core_.handCount(), tracked.size());
        tracked_ = tracked;
        started_.clear();
        stopped_.clear();

        for (int i = 0; i < out.gestureCount; ++i) {
            const tracker::GestureReport& g = out.gestures[i];
            p_.expect(core_.gestureEnabled(g.type), "gesture of type %d, not enabled", g.type);
            p_.expect(
                g.state == tracker::kGestureInProgress || g.state == tracker::kGestureCompleted,
                "gesture in state %u", g.state);
            p_.expect(finite(g.position), "gesture at %g,%g,%g", double{g.position.x},
                      double{g.position.y}, double{g.position.z});
        }
    }

    ByteReader in_;
    Problems p_;
    tracker::HandTrackerCore core_;
    tracker::TrackerOutput out_;
    uint64_t timestamp_ = 0;
    int frames_ = 0;
    std::set<int16_t> tracked_;  // tracked after the last frame
    std::set<int16_t> started_;  // started since the last frame
    std::set<int16_t> stopped_;  // stopped since the last frame
    bool sane_ = true;           // every accepted start was within kSaneRange
    // TOLVANE_FUZZ_TRACE=1 prints every frame's output (to study an input).
    const bool trace_ = std::getenv("TOLVANE_FUZZ_TRACE") != nullptr;
};

}  // namespace

std::string trackerCore(Input input) {
    return TrackerScript(input).run();
}

}  // namespace fuzz
