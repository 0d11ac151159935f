#include "sim/Scene.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <sstream>

namespace sim {

// ---------------------------------------------------------------- tracks

Vec3 Track::at(double t) const {
    if (keys.empty()) return {};
    if (t <= keys.front().t) return keys.front().p;
    if (t >= keys.back().t) return keys.back().p;
    const auto it = std::upper_bound(keys.begin(), keys.end(), t,
                                     [](double v, const Key& k) { return v < k.t; });
    const size_t i1 = static_cast<size_t>(it - keys.begin());
    const size_t i0 = i1 - 1;
    const Key& k0 = keys[i0];
    const Key& k1 = keys[i1];
    const double h = k1.t - k0.t;
    if (h <= 0) return k1.p;
    auto tangent = [&](size_t i) -> Vec3 {
        if (keys[i].stop || i == 0 || i + 1 >= keys.size()) return {};
        const double dt = keys[i + 1].t - keys[i - 1].t;
        return (keys[i + 1].p - keys[i - 1].p) * static_cast<float>(1.0 / dt);
    };
    const double s = (t - k0.t) / h;
    const double s2 = s * s, s3 = s2 * s;
    const float h00 = static_cast<float>(2 * s3 - 3 * s2 + 1);
    const float h10 = static_cast<float>((s3 - 2 * s2 + s) * h);
    const float h01 = static_cast<float>(-2 * s3 + 3 * s2);
    const float h11 = static_cast<float>((s3 - s2) * h);
    return k0.p * h00 + tangent(i0) * h10 + k1.p * h01 + tangent(i1) * h11;
}

// ---------------------------------------------------------------- poses

namespace {

Vec3 normalized(Vec3 v, Vec3 fallback) {
    const float len = length(v);
    return len > 1e-6f ? v * (1.0f / len) : fallback;
}

float length2(Vec3 v) {
    return dot(v, v);
}

// Two-bone arm from the shoulder to the hand centre; the elbow bends down,
// outward and back.
void solveArm(Vec3 shoulder, Vec3 hand, float upper, float lower, float handToWrist, float outward,
              Vec3& elbow, Vec3& wrist) {
    const float reach = lower + handToWrist;
    const Vec3 toHand = hand - shoulder;
    const float dist = length(toHand);
    const Vec3 n = normalized(toHand, {0, -1, 0});
    const float d = std::clamp(dist, std::fabs(upper - reach) + 1.0f, upper + reach - 1.0f);
    const float a = (upper * upper - reach * reach + d * d) / (2 * d);
    const float h = std::sqrt(std::max(0.0f, upper * upper - a * a));
    Vec3 pole{0.3f * outward, -1.0f, 0.3f};
    pole = pole - n * dot(pole, n);
    pole = normalized(pole, {0, 0, 1});
    elbow = shoulder + n * a + pole * h;
    wrist = elbow + normalized(hand - elbow, n) * lower;
}

}  // namespace

float fingerReach(HandShape shape) {
    switch (shape) {
        case HandShape::kSimple:
            return 90;
        case HandShape::kFist:
            return kPalmRadii.y + 14;
        case HandShape::kOpen:
        case HandShape::kPoint:
            return kFingers[1].along + kFingers[1].length + kFingers[1].radius;
        case HandShape::kSpread: {
            const float a = kSpreadAngles[1] * std::numbers::pi_v<float> / 180;
            return kFingers[1].along + kFingers[1].length * std::cos(a) + kFingers[1].radius;
        }
    }
    return 90;
}

HandShape Person::shapeAt(int side, double t) const {
    HandShape shape = HandShape::kSimple;
    for (const ShapeChange& c : shapes[side]) {
        if (c.t > t) break;
        shape = c.shape;
    }
    return shape;
}

Pose Person::poseAt(double t, float floorY) const {
    const float H = size.height;
    Pose p;
    p.root = body.at(t);
    p.root.y = floorY;
    p.seated = seated;
    // A seated body sits lower from the hips up; the hands' tracks are relative to the floor.
    const Vec3 r = p.root + Vec3{0, seated ? -size.seatDrop() : 0.0f, 0};
    const Vec3 floorRoot = p.root;
    p.torsoCentre = r + Vec3{0, 0.675f * H, 0};
    p.torsoRadii = {0.1f * H, 0.16f * H, 0.065f * H};
    p.headCentre = r + Vec3{0, size.headY(), 0};
    p.headRadii = {0.046f * H, 0.063f * H, 0.054f * H};
    p.upperArmRadius = 0.026f * H;
    p.forearmRadius = 0.021f * H;
    p.legRadius = 0.037f * H;
    p.handRadii = size.handRadii();
    for (int side = 0; side < 2; ++side) {
        const float sign = side == kLeft ? -1.0f : 1.0f;
        p.shoulder[side] = r + Vec3{sign * size.shoulderX(), size.shoulderY(), 0};
        p.hand[side] = floorRoot + hand[side].at(t);
        const HandShape shape = shapeAt(side, t);
        p.shape[side] = shape;
        const float toWrist =
            shape == HandShape::kSimple ? size.handToWrist() : kPalmToWrist * size.s();
        solveArm(p.shoulder[side], p.hand[side], size.upperArm(), size.forearm(), toWrist, sign,
                 p.elbow[side], p.wrist[side]);
        p.hip[side] = r + Vec3{sign * 0.055f * H, 0.50f * H, 0};
        if (seated) {
            p.knee[side] = p.hip[side] + Vec3{sign * 0.01f * H, 0.02f * H, -0.25f * H};
            p.foot[side] = floorRoot + Vec3{sign * 0.065f * H, 0.04f * H, -0.27f * H};
        } else {
            p.foot[side] = r + Vec3{sign * 0.065f * H, 0.04f * H, 0};
        }
        if (shape != HandShape::kSimple) {
            // Fingers continue the forearm, with its slope towards the sensor flattened and, for
            // a raised hand, half-way turned upright: people hold a raised hand up. Over a
            // keyboard (seated, low and well in front) they point forward. The thumb points
            // towards the body's middle.
            HandFrame& f = p.handFrame[side];
            f.palm = p.hand[side];
            const Vec3 fore = f.palm - p.elbow[side];
            const Vec3 rel = hand[side].at(t);
            if (seated && rel.y < 0.47f * H && rel.z < -0.18f * H) {
                f.axis = normalized(fore, {0, 0, -1});  // typing: fingers forward over the keys
            } else {
                f.axis = normalized(Vec3{fore.x, fore.y, 0.3f * fore.z}, {0, 1, 0});
                if (f.axis.y > 0) f.axis = normalized(f.axis + Vec3{0, 1, 0}, {0, 1, 0});
            }
            Vec3 across{-sign, 0, 0};
            across = across - f.axis * dot(across, f.axis);
            if (length2(across) < 1e-4f) across = Vec3{0, 0, -1} - f.axis * (-f.axis.z);
            f.across = normalized(across, {1, 0, 0});
        }
    }
    return p;
}

int Scene::frameCount() const {
    const double n = std::ceil(endTime * sensor.fps - 1e-9);
    return std::max(1, static_cast<int>(n));
}

FrameTruth groundTruth(const Scene& scene, int frame) {
    FrameTruth truth;
    groundTruth(scene, frame, truth);
    return truth;
}

void groundTruth(const Scene& scene, int frame, FrameTruth& truth) {
    truth.hands.clear();
    truth.frame = frame;
    truth.time = scene.frameTime(frame);
    const Projection& proj = scene.sensor.projection;
    for (size_t i = 0; i < scene.people.size(); ++i) {
        const Person& person = scene.people[i];
        const Vec3 body = person.body.at(truth.time);
        const Vec3 root{body.x, scene.room.floorY, body.z};
        for (int side = 0; side < 2; ++side) {
            HandTruth h;
            h.person = static_cast<int>(i);
            h.side = static_cast<Side>(side);
            h.palm = root + person.hand[side].at(truth.time);
            h.centre = h.palm;
            const HandShape shape = person.shapeAt(side, truth.time);
            if (shape != HandShape::kSimple) {
                // The middle of the hand's length, from the heel of the palm to the fingertips.
                const Pose pose = person.poseAt(truth.time, scene.room.floorY);
                const float reach = (fingerReach(shape) - kPalmRadii.y) * 0.5f * person.size.s();
                h.centre = h.palm + pose.handFrame[side].axis * reach;
            }
            if (h.palm.z > 1.0f) {
                proj.worldToDepth(h.palm, h.u, h.v);
                h.inView = h.u >= 0 && h.v >= 0 && h.u < static_cast<float>(proj.width) &&
                           h.v < static_cast<float>(proj.height);
            }
            truth.hands.push_back(h);
        }
    }
}

// ---------------------------------------------------------------- parser

namespace {

constexpr size_t kMaxKeys = 200000;

struct ParseError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw ParseError{message};
}

std::string quoted(std::string_view s) {
    std::string out = "'";
    out.append(s.substr(0, 40));
    if (s.size() > 40) out += "...";
    out += "'";
    return out;
}

double parseNumber(std::string_view text, std::string_view what) {
    double v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (!text.empty() && *first == '+') ++first;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || !std::isfinite(v) || text.empty())
        fail(std::string(what) + " must be a number, not " + quoted(text));
    return v;
}

double parseRange(std::string_view text, std::string_view what, double lo, double hi) {
    const double v = parseNumber(text, what);
    if (v < lo || v > hi) {
        std::ostringstream os;
        os << what << " must be between " << lo << " and " << hi << ", not " << quoted(text);
        fail(os.str());
    }
    return v;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos == std::string_view::npos ? pos : pos - start));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return parts;
}

Vec3 parseVec(std::string_view text, std::string_view what, int count, double limit) {
    const auto parts = split(text, ',');
    if (static_cast<int>(parts.size()) != count)
        fail(std::string(what) + " needs " + std::to_string(count) +
             " numbers separated by commas, not " + quoted(text));
    float v[3] = {0, 0, 0};
    for (int i = 0; i < count; ++i)
        v[i] = static_cast<float>(parseRange(parts[i], what, -limit, limit));
    return {v[0], v[1], v[2]};
}

bool parseSwitch(std::string_view text, std::string_view what) {
    if (text == "on" || text == "yes" || text == "true") return true;
    if (text == "off" || text == "no" || text == "false") return false;
    fail(std::string(what) + " must be on or off, not " + quoted(text));
}

// key=value options of one line; each must be used, unknown ones are errors.
class Options {
  public:
    Options(const std::vector<std::string_view>& tokens, size_t first, std::string_view context)
        : context_(context) {
        for (size_t i = first; i < tokens.size(); ++i) {
            const size_t eq = tokens[i].find('=');
            if (eq == std::string_view::npos || eq == 0)
                fail("expected key=value after " + std::string(context) + ", not " +
                     quoted(tokens[i]));
            const std::string key(tokens[i].substr(0, eq));
            if (values_.count(key)) fail("option " + quoted(key) + " given twice");
            values_[key] = tokens[i].substr(eq + 1);
        }
    }
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    std::string_view text(const std::string& key) {
        used_.push_back(key);
        return values_.at(key);
    }
    double number(const std::string& key, double fallback, double lo, double hi) {
        if (!has(key)) return fallback;
        return parseRange(text(key), key, lo, hi);
    }
    void finish() const {
        for (const auto& [key, value] : values_)
            if (std::find(used_.begin(), used_.end(), key) == used_.end())
                fail("unknown option " + quoted(key) + " for " + std::string(context_));
    }

  private:
    std::string_view context_;
    std::map<std::string, std::string_view> values_;
    std::vector<std::string> used_;
};

constexpr double kMaxMm = 20000;
constexpr double kMaxActionSeconds = 600;

class Parser {
  public:
    Parser(const std::string& name) { scene_.source = name; }

    void line(std::string_view text) {
        const size_t hash = text.find('#');
        if (hash != std::string_view::npos) text = text.substr(0, hash);
        std::vector<std::string_view> tokens;
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            const size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i > start) tokens.push_back(text.substr(start, i - start));
        }
        if (tokens.empty()) return;
        const std::string_view word = tokens[0];
        if (word == "sensor")
            sensor(tokens);
        else if (word == "room")
            room(tokens);
        else if (word == "box")
            box(tokens);
        else if (word == "bar")
            bar(tokens);
        else if (word == "desk")
            desk(tokens);
        else if (word == "person")
            person(tokens);
        else if (word == "end")
            end(tokens);
        else if (word == "fault")
            fault(tokens);
        else
            action(tokens);
    }

    Scene finish() {
        if (!hasEnd_) {
            double last = 0;
            for (const Person& p : scene_.people) {
                last = std::max({last, p.body.endTime(), p.hand[0].endTime(), p.hand[1].endTime()});
            }
            scene_.endTime = last + 1.0;
        }
        return std::move(scene_);
    }

  private:
    void once(bool& seen, std::string_view word) {
        if (seen) fail(std::string(word) + " given twice");
        seen = true;
    }
    void beforePeople(std::string_view word) {
        if (!scene_.people.empty()) fail(std::string(word) + " must come before the first person");
    }

    void sensor(const std::vector<std::string_view>& tokens) {
        once(hasSensor_, "sensor");
        beforePeople("sensor");
        Options opt(tokens, 1, "sensor");
        SensorSpec& s = scene_.sensor;
        if (opt.has("resolution")) {
            const std::string_view r = opt.text("resolution");
            if (r == "320x240") {
                s.projection.width = 320;
                s.projection.height = 240;
            } else if (r == "640x480") {
                s.projection.width = 640;
                s.projection.height = 480;
            } else {
                fail("resolution must be 320x240 or 640x480, not " + quoted(r));
            }
        }
        s.fps = opt.number("fps", s.fps, 1, 120);
        if (opt.has("fov")) {
            const auto parts = split(opt.text("fov"), 'x');
            if (parts.size() != 2) fail("fov must be HxV in degrees, such as 58.1x45.3");
            constexpr double kDeg = std::numbers::pi / 180.0;
            s.projection.hfov = static_cast<float>(parseRange(parts[0], "fov", 10, 120) * kDeg);
            s.projection.vfov = static_cast<float>(parseRange(parts[1], "fov", 10, 120) * kDeg);
        }
        if (opt.has("noise")) {
            const std::string_view v = opt.text("noise");
            s.realistic = v == "real";
            if (!s.realistic && v != "on" && v != "yes" && v != "true" && v != "off" && v != "no" &&
                v != "false")
                fail("noise must be on, off or real, not " + quoted(v));
            s.noise = s.realistic || parseSwitch(v, "noise");
        }
        if (opt.has("seed")) s.seed = static_cast<uint64_t>(opt.number("seed", 1, 0, 4294967295.0));
        if (opt.has("speed")) {
            const std::string_view v = opt.text("speed");
            s.speed = v == "nodrop" ? 0.0 : parseRange(v, "speed", 0.01, 100);
        }
        opt.finish();
    }

    void room(const std::vector<std::string_view>& tokens) {
        once(hasRoom_, "room");
        beforePeople("room");
        Options opt(tokens, 1, "room");
        Room& r = scene_.room;
        if (opt.has("wall")) {
            const std::string_view v = opt.text("wall");
            r.hasWall = v != "none";
            if (r.hasWall) r.wallZ = static_cast<float>(parseRange(v, "wall", 300, kMaxMm));
        }
        if (opt.has("floor")) {
            const std::string_view v = opt.text("floor");
            r.hasFloor = v != "none";
            if (r.hasFloor) r.floorY = static_cast<float>(parseRange(v, "floor", -5000, -100));
        }
        opt.finish();
    }

    void box(const std::vector<std::string_view>& tokens) {
        if (static_cast<int>(scene_.boxes.size()) >= kMaxBoxes)
            fail("more than " + std::to_string(kMaxBoxes) + " boxes");
        Options opt(tokens, 1, "box");
        if (!opt.has("center") || !opt.has("size")) fail("box needs center=x,y,z and size=w,h,d");
        Box b;
        b.centre = parseVec(opt.text("center"), "center", 3, kMaxMm);
        b.size = parseVec(opt.text("size"), "size", 3, kMaxMm);
        if (b.size.x <= 0 || b.size.y <= 0 || b.size.z <= 0) fail("box sizes must be positive");
        b.surface = surface(opt);
        opt.finish();
        scene_.boxes.push_back(b);
    }

    static Surface surface(Options& opt) {
        if (!opt.has("surface")) return Surface::kMatte;
        const std::string_view v = opt.text("surface");
        if (v == "matte") return Surface::kMatte;
        if (v == "dark") return Surface::kDark;
        if (v == "shiny") return Surface::kShiny;
        fail("surface must be matte, dark or shiny, not " + quoted(v));
    }

    // bar from=x,y,z to=x,y,z [radius=10] [surface=...]
    void bar(const std::vector<std::string_view>& tokens) {
        if (static_cast<int>(scene_.bars.size()) >= kMaxBars)
            fail("more than " + std::to_string(kMaxBars) + " bars");
        Options opt(tokens, 1, "bar");
        if (!opt.has("from") || !opt.has("to")) fail("bar needs from=x,y,z and to=x,y,z");
        Bar b;
        b.from = parseVec(opt.text("from"), "from", 3, kMaxMm);
        b.to = parseVec(opt.text("to"), "to", 3, kMaxMm);
        b.radius = static_cast<float>(opt.number("radius", 10, 1, 500));
        b.surface = surface(opt);
        opt.finish();
        scene_.bars.push_back(b);
    }

    // desk [x=0] [z=800] [width=1400] [depth=700] [height=730] [laptop=off] [surface=...]
    void desk(const std::vector<std::string_view>& tokens) {
        if (static_cast<int>(scene_.desks.size()) >= kMaxDesks)
            fail("more than " + std::to_string(kMaxDesks) + " desks");
        Options opt(tokens, 1, "desk");
        Desk d;
        d.x = static_cast<float>(opt.number("x", d.x, -kMaxMm, kMaxMm));
        d.z = static_cast<float>(opt.number("z", d.z, 300, kMaxMm));
        d.width = static_cast<float>(opt.number("width", d.width, 300, 5000));
        d.depth = static_cast<float>(opt.number("depth", d.depth, 300, 3000));
        d.height = static_cast<float>(opt.number("height", d.height, 400, 1200));
        if (opt.has("laptop")) d.laptop = parseSwitch(opt.text("laptop"), "laptop");
        d.surface = surface(opt);
        opt.finish();
        scene_.desks.push_back(d);
    }

    void person(const std::vector<std::string_view>& tokens) {
        if (tokens.size() < 2) fail("person needs a name");
        const std::string_view name = tokens[1];
        const bool valid =
            std::isalpha(static_cast<unsigned char>(name[0])) &&
            std::all_of(name.begin(), name.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
            });
        if (!valid || name.size() > 32)
            fail("a person's name is a letter followed by up to 31 letters, digits, - or _, not " +
                 quoted(name));
        static const char* const kReserved[] = {"sensor", "room",   "box", "bar",
                                                "desk",   "person", "end", "fault"};
        for (const char* r : kReserved)
            if (name == r) fail(quoted(name) + " cannot name a person");
        if (findPerson(name)) fail("person " + quoted(name) + " is already defined");
        if (static_cast<int>(scene_.people.size()) >= kMaxPeople)
            fail("more than " + std::to_string(kMaxPeople) + " people");
        Options opt(tokens, 2, "person");
        Person p;
        p.name = std::string(name);
        p.size.height = static_cast<float>(opt.number("height", 1750, 1000, 2200));
        const float x = static_cast<float>(opt.number("x", 0, -kMaxMm, kMaxMm));
        const float z = static_cast<float>(opt.number("z", 2000, 300, kMaxMm));
        if (opt.has("seated")) p.seated = parseSwitch(opt.text("seated"), "seated");
        if (opt.has("hair")) p.hair = parseSwitch(opt.text("hair"), "hair");
        const HandShape shape =
            opt.has("hands") ? handShape(opt.text("hands")) : HandShape::kSimple;
        if (opt.has("sleeves")) {
            const std::string_view v = opt.text("sleeves");
            if (v == "none")
                p.sleeve = Sleeve::kNone;
            else if (v == "short")
                p.sleeve = Sleeve::kShort;
            else if (v == "long")
                p.sleeve = Sleeve::kLong;
            else if (v == "dark")
                p.sleeve = Sleeve::kDark;
            else
                fail("sleeves must be none, short, long or dark, not " + quoted(v));
        }
        opt.finish();
        for (int side = 0; side < 2; ++side) p.shapes[side].push_back({0, shape});
        p.body.keys.push_back({0, {x, 0, z}, true});
        for (int side = 0; side < 2; ++side) p.hand[side].keys.push_back({0, rest(p, side), true});
        scene_.people.push_back(std::move(p));
    }

    void end(const std::vector<std::string_view>& tokens) {
        once(hasEnd_, "end");
        if (tokens.size() < 2) fail("end needs a time in seconds");
        scene_.endTime = parseRange(tokens[1], "end", 0.01, kMaxSceneSeconds);
        Options opt(tokens, 2, "end");
        if (opt.has("loop")) scene_.loop = parseSwitch(opt.text("loop"), "loop");
        opt.finish();
    }

    // fault stall|zeros|range|size|empty|vanish at=T [for=D]
    void fault(const std::vector<std::string_view>& tokens) {
        if (static_cast<int>(scene_.faults.size()) >= kMaxFaults)
            fail("more than " + std::to_string(kMaxFaults) + " faults");
        if (tokens.size() < 2)
            fail("fault needs a kind: stall, zeros, range, size, empty or vanish");
        const std::string_view kind = tokens[1];
        Fault f;
        if (kind == "stall")
            f.kind = Fault::Kind::kStall;
        else if (kind == "zeros")
            f.kind = Fault::Kind::kZeros;
        else if (kind == "range")
            f.kind = Fault::Kind::kRange;
        else if (kind == "size")
            f.kind = Fault::Kind::kSize;
        else if (kind == "empty")
            f.kind = Fault::Kind::kEmpty;
        else if (kind == "vanish")
            f.kind = Fault::Kind::kVanish;
        else
            fail("fault kind must be stall, zeros, range, size, empty or vanish, not " +
                 quoted(kind));
        Options opt(tokens, 2, "fault");
        if (!opt.has("at")) fail("fault needs at=seconds");
        f.at = opt.number("at", 0, 0, kMaxSceneSeconds);
        if (f.kind == Fault::Kind::kStall) {
            if (!opt.has("for")) fail("a stall needs for=seconds");
            f.duration = opt.number("for", 0, 0.01, kMaxActionSeconds);
        } else if (f.kind != Fault::Kind::kVanish) {
            f.duration = opt.number("for", 0, 0, kMaxSceneSeconds);
        }
        opt.finish();
        scene_.faults.push_back(f);
    }

    Person* findPerson(std::string_view name) {
        for (Person& p : scene_.people)
            if (p.name == name) return &p;
        return nullptr;
    }

    static HandShape handShape(std::string_view v) {
        if (v == "simple") return HandShape::kSimple;
        if (v == "open") return HandShape::kOpen;
        if (v == "spread") return HandShape::kSpread;
        if (v == "fist") return HandShape::kFist;
        if (v == "point") return HandShape::kPoint;
        fail("a hand shape is simple, open, spread, fist or point, not " + quoted(v));
    }

    // Standard places of a hand, relative to the person's root. A seated person's hands rest
    // over a keyboard in front of the body, at desk height.
    static Vec3 rest(const Person& p, int side) {
        const float H = p.size.height, sign = side == kLeft ? -1.0f : 1.0f;
        if (p.seated) return {sign * 0.1f * H, 0.435f * H, -0.25f * H};
        return {sign * 0.15f * H, 0.46f * H, 0.0f};
    }
    static Vec3 raised(const Person& p, int side, bool both) {
        const float H = p.size.height, sign = side == kLeft ? -1.0f : 1.0f;
        return {sign * (both ? 0.115f : 0.09f) * H, p.seated ? 0.54f * H : 0.72f * H, -0.2f * H};
    }
    static float drop(const Person& p) { return p.seated ? p.size.seatDrop() : 0.0f; }
    static Vec3 atHead(const Person& p, int side) {
        const float H = p.size.height, sign = side == kLeft ? -1.0f : 1.0f;
        return {sign * 0.075f * H, p.size.headY() - drop(p), -0.01f * H};
    }
    // Close in front of the chest, about 90 mm before it.
    static Vec3 atChest(const Person& p, int side, bool both) {
        const float H = p.size.height, sign = side == kLeft ? -1.0f : 1.0f;
        return {sign * (both ? 0.06f : 0.03f) * H, 0.70f * H - drop(p), -0.125f * H};
    }

    void addKey(Track& track, double t, Vec3 p, bool stop = true) {
        if (++keyCount_ > kMaxKeys) fail("too many keyframes in this scene");
        if (t > kMaxSceneSeconds)
            fail("the scene runs past " + std::to_string(int(kMaxSceneSeconds)) + " s");
        track.keys.push_back({t, p, stop});
    }
    // Holds the track's last position until t.
    void holdUntil(Track& track, double t) {
        if (t > track.endTime()) addKey(track, t, track.last());
    }

    void action(const std::vector<std::string_view>& tokens) {
        size_t i = 0;
        double start = -1;
        if (tokens[0][0] == '@') {
            start = parseRange(tokens[0].substr(1), "start time", 0, kMaxSceneSeconds);
            ++i;
        }
        if (i >= tokens.size()) fail("a start time needs an action after it");
        Person* person = findPerson(tokens[i]);
        if (!person) {
            if (i == 0)
                fail("unknown keyword or person " + quoted(tokens[i]) +
                     " (keywords: sensor, room, box, bar, desk, person, end, fault)");
            fail("unknown person " + quoted(tokens[i]));
        }
        if (i + 2 >= tokens.size())
            fail("expected: " + person->name + " left|right|both|body <action> ...");
        const std::string_view limb = tokens[i + 1];
        const std::string_view verb = tokens[i + 2];
        const size_t args = i + 3;
        if (limb == "body") {
            bodyAction(*person, start, verb, tokens, args);
            return;
        }
        std::vector<int> sides;
        if (limb == "left")
            sides = {kLeft};
        else if (limb == "right")
            sides = {kRight};
        else if (limb == "both")
            sides = {kLeft, kRight};
        else
            fail("expected left, right, both or body after " + person->name + ", not " +
                 quoted(limb));

        double t0 = 0;
        for (int s : sides) t0 = std::max(t0, person->hand[s].endTime());
        if (start >= 0) {
            if (start + 1e-9 < t0) {
                std::ostringstream os;
                os << "starts at " << start << " s but " << person->name << "'s " << limb
                   << " hand is busy until " << t0 << " s";
                fail(os.str());
            }
            t0 = start;
        }
        for (int s : sides) holdUntil(person->hand[s], t0);
        handAction(*person, sides, t0, verb, tokens, args);
    }

    void bodyAction(Person& p, double start, std::string_view verb,
                    const std::vector<std::string_view>& tokens, size_t args) {
        Track& body = p.body;
        double t0 = body.endTime();
        if (start >= 0) {
            if (start + 1e-9 < t0) fail("starts before " + p.name + "'s previous body action ends");
            t0 = start;
        }
        holdUntil(body, t0);
        const Vec3 from = body.last();
        if (verb == "hold") {
            if (args >= tokens.size()) fail("hold needs a time in seconds");
            const double d = parseRange(tokens[args], "hold", 0.001, kMaxActionSeconds);
            Options(tokens, args + 1, "hold").finish();
            addKey(body, t0 + d, from);
            return;
        }
        if (verb != "walk" && verb != "to")
            fail("unknown body action " + quoted(verb) + " (walk, to, hold)");
        if (args >= tokens.size()) fail(std::string(verb) + " needs x,z");
        const Vec3 v = parseVec(tokens[args], verb, 2, kMaxMm);
        Options opt(tokens, args + 1, verb);
        const double d = opt.number("time", 2.0, 0.05, kMaxActionSeconds);
        opt.finish();
        const Vec3 target =
            verb == "walk" ? Vec3{from.x + v.x, 0, from.z + v.y} : Vec3{v.x, 0, v.y};
        if (target.z < 300) fail("the body would come nearer than 300 mm to the sensor");
        addKey(body, t0 + d, target);
    }

    void handAction(Person& p, const std::vector<int>& sides, double t0, std::string_view verb,
                    const std::vector<std::string_view>& tokens, size_t args) {
        const bool both = sides.size() == 2;
        const std::string context(verb);
        auto positional = [&](const char* what) -> std::string_view {
            if (args >= tokens.size() || tokens[args].find('=') != std::string_view::npos)
                fail(context + " needs " + what);
            return tokens[args];
        };
        auto moveTo = [&](int s, double t, Vec3 target) { addKey(p.hand[s], t, target); };

        if (verb == "hold") {
            const double d =
                parseRange(positional("a time in seconds"), "hold", 0.001, kMaxActionSeconds);
            Options(tokens, args + 1, context).finish();
            for (int s : sides) moveTo(s, t0 + d, p.hand[s].last());
        } else if (verb == "raise" || verb == "down" || verb == "head" || verb == "chest") {
            Options opt(tokens, args, context);
            const double d = opt.number("time", 0.8, 0.05, kMaxActionSeconds);
            opt.finish();
            if (verb == "head" && both) fail("head takes one hand, left or right");
            for (int s : sides) {
                const Vec3 target = verb == "raise"   ? raised(p, s, both)
                                    : verb == "down"  ? rest(p, s)
                                    : verb == "chest" ? atChest(p, s, both)
                                                      : atHead(p, s);
                moveTo(s, t0 + d, target);
            }
        } else if (verb == "shape") {
            const HandShape shape = handShape(positional("a hand shape"));
            Options opt(tokens, args + 1, context);
            const double d = opt.number("time", 0.2, 0.01, kMaxActionSeconds);
            opt.finish();
            for (int s : sides) {
                p.shapes[s].push_back({t0, shape});
                moveTo(s, t0 + d, p.hand[s].last());
            }
        } else if (verb == "move" || verb == "to") {
            const Vec3 v = parseVec(positional("x,y,z"), context, 3, kMaxMm);
            Options opt(tokens, args + 1, context);
            const double d = opt.number("time", 0.5, 0.02, kMaxActionSeconds);
            opt.finish();
            if (verb == "to" && both) fail("to takes one hand, left or right");
            for (int s : sides) {
                Vec3 target = p.hand[s].last() + v;
                if (verb == "to") {
                    const Vec3 root = p.body.at(t0);
                    target = Vec3{v.x - root.x, v.y - scene_.room.floorY, v.z - root.z};
                }
                moveTo(s, t0 + d, target);
            }
        } else if (verb == "wave") {
            Options opt(tokens, args, context);
            const float amp = static_cast<float>(opt.number("amplitude", 100, 5, 500));
            const double half = opt.number("half", 0.3, 0.05, 5);
            const int cycles = static_cast<int>(opt.number("cycles", 3, 1, 50));
            opt.finish();
            for (int s : sides) {
                const Vec3 c = p.hand[s].last();
                double t = t0 + half / 2;
                for (int k = 0; k < 2 * cycles; ++k, t += half)
                    moveTo(s, t, c + Vec3{k % 2 == 0 ? amp : -amp, 0, 0});
                moveTo(s, t - half / 2, c);
            }
        } else if (verb == "push") {
            Options opt(tokens, args, context);
            const float depth = static_cast<float>(opt.number("depth", 200, 10, 1000));
            const double d = opt.number("time", 0.6, 0.05, 30);
            opt.finish();
            for (int s : sides) {
                const Vec3 c = p.hand[s].last();
                moveTo(s, t0 + d / 2, c + Vec3{0, 0, -depth});
                moveTo(s, t0 + d, c);
            }
        } else if (verb == "swipe") {
            const std::string_view dir = positional("a direction: left, right, up or down");
            Vec3 unit;
            if (dir == "left")
                unit = {-1, 0, 0};
            else if (dir == "right")
                unit = {1, 0, 0};
            else if (dir == "up")
                unit = {0, 1, 0};
            else if (dir == "down")
                unit = {0, -1, 0};
            else
                fail("swipe direction must be left, right, up or down, not " + quoted(dir));
            Options opt(tokens, args + 1, context);
            const float dist = static_cast<float>(opt.number("distance", 400, 10, 2000));
            const double d = opt.number("time", 0.4, 0.05, 30);
            opt.finish();
            for (int s : sides) moveTo(s, t0 + d, p.hand[s].last() + unit * dist);
        } else if (verb == "circle") {
            Options opt(tokens, args, context);
            const float radius = static_cast<float>(opt.number("radius", 120, 10, 1000));
            const double d = opt.number("time", 1.5, 0.1, 60);
            bool clockwise = true;
            if (opt.has("turn")) {
                const std::string_view turn = opt.text("turn");
                if (turn != "cw" && turn != "ccw")
                    fail("turn must be cw or ccw, not " + quoted(turn));
                clockwise = turn == "cw";
            }
            opt.finish();
            constexpr int kSteps = 16;
            for (int s : sides) {
                const Vec3 start = p.hand[s].last();
                const Vec3 centre = start - Vec3{0, radius, 0};  // starts at the top
                for (int k = 1; k <= kSteps; ++k) {
                    const double a = std::numbers::pi / 2 +
                                     (clockwise ? -1 : 1) * 2 * std::numbers::pi * k / kSteps;
                    const Vec3 q = centre + Vec3{static_cast<float>(radius * std::cos(a)),
                                                 static_cast<float>(radius * std::sin(a)), 0};
                    addKey(p.hand[s], t0 + d * k / kSteps, k == kSteps ? start : q, k == kSteps);
                }
            }
        } else if (verb == "apart" || verb == "together" || verb == "tilt") {
            if (!both) fail(context + " needs both hands");
            Options opt(tokens, args, context);
            const double d = opt.number("time", 0.6, 0.05, 30);
            const Vec3 l = p.hand[kLeft].last(), r = p.hand[kRight].last();
            const Vec3 mid = (l + r) * 0.5f;
            if (verb == "tilt") {
                // Positive angles turn the pair counter-clockwise as the sensor
                // sees it: the right hand goes up, the left one down.
                const double a = opt.number("angle", 25, -90, 90) * std::numbers::pi / 180;
                opt.finish();
                const float c = static_cast<float>(std::cos(a)),
                            sn = static_cast<float>(std::sin(a));
                for (int s : sides) {
                    const Vec3 q = p.hand[s].last() - mid;
                    moveTo(s, t0 + d, mid + Vec3{q.x * c - q.y * sn, q.x * sn + q.y * c, q.z});
                }
            } else {
                const float dist = static_cast<float>(opt.number("distance", 150, 5, 1000));
                opt.finish();
                const float sign = verb == "apart" ? 1.0f : -1.0f;
                if (verb == "together" && r.x - l.x - 2 * dist < 120)
                    fail("together would bring the hands closer than 120 mm (they are " +
                         std::to_string(static_cast<int>(r.x - l.x)) + " mm apart)");
                moveTo(kLeft, t0 + d, l + Vec3{-sign * dist, 0, 0});
                moveTo(kRight, t0 + d, r + Vec3{sign * dist, 0, 0});
            }
        } else {
            fail("unknown hand action " + quoted(verb) +
                 " (raise, hold, wave, push, swipe, circle, move, to, head, chest, down, shape, "
                 "apart, together, tilt)");
        }
    }

    Scene scene_;
    bool hasSensor_ = false, hasRoom_ = false, hasEnd_ = false;
    size_t keyCount_ = 0;
};

}  // namespace

std::optional<Scene> parseScene(std::string_view text, const std::string& name,
                                std::string& error) {
    if (text.size() > kMaxSceneBytes) {
        error = name + ": larger than " + std::to_string(kMaxSceneBytes) + " bytes";
        return std::nullopt;
    }
    Parser parser(name);
    int lineNo = 0;
    size_t start = 0;
    try {
        while (start <= text.size()) {
            ++lineNo;
            size_t nl = text.find('\n', start);
            if (nl == std::string_view::npos) nl = text.size();
            std::string_view line = text.substr(start, nl - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.find('\0') != std::string_view::npos) fail("contains a NUL byte");
            parser.line(line);
            start = nl + 1;
        }
        return parser.finish();
    } catch (const ParseError& e) {
        error = name + ":" + std::to_string(lineNo) + ": " + e.message;
        return std::nullopt;
    }
}

std::optional<Scene> loadScene(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the scene file";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxSceneBytes) {
            error = path + ": larger than " + std::to_string(kMaxSceneBytes) + " bytes";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        error = path + ": cannot read the scene file";
        return std::nullopt;
    }
    return parseScene(text, path, error);
}

}  // namespace sim
