#include "sim/Renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <ostream>

#include "sim/Noise.h"

namespace sim {

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNear = 50.0f;               // mm; nothing nearer is drawn
constexpr float kLargestReading = 10000.0f;  // the stream's maximum value

struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // [x0, x1) x [y0, y1)
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// Pixels whose rays may meet the axis-aligned box [lo, hi].
Rect screenRect(const Projection& proj, Vec3 lo, Vec3 hi) {
    if (hi.z <= kNear) return {};
    if (lo.z <= kNear) return {0, 0, proj.width, proj.height};
    const float fx = proj.focalX(), fy = proj.focalY();
    // The principal point is a whole pixel, as OpenNI 2's converter has it.
    const int halfWidth = proj.width / 2;
    const int halfHeight = proj.height / 2;
    const float cx = static_cast<float>(halfWidth), cy = static_cast<float>(halfHeight);
    float umin = kInf, umax = -kInf, vmin = kInf, vmax = -kInf;
    for (float z : {lo.z, hi.z}) {
        for (float x : {lo.x, hi.x}) {
            const float u = fx * x / z + cx;
            umin = std::min(umin, u);
            umax = std::max(umax, u);
        }
        for (float y : {lo.y, hi.y}) {
            const float v = cy - fy * y / z;
            vmin = std::min(vmin, v);
            vmax = std::max(vmax, v);
        }
    }
    Rect r;
    r.x0 = static_cast<int>(std::clamp(std::floor(umin), 0.0f, static_cast<float>(proj.width)));
    r.x1 = static_cast<int>(std::clamp(std::ceil(umax) + 1, 0.0f, static_cast<float>(proj.width)));
    r.y0 = static_cast<int>(std::clamp(std::floor(vmin), 0.0f, static_cast<float>(proj.height)));
    r.y1 = static_cast<int>(std::clamp(std::ceil(vmax) + 1, 0.0f, static_cast<float>(proj.height)));
    return r;
}

// Ray (a, b, 1) from the origin; every hit function returns the ray parameter,
// which is the planar depth, or +inf.
struct Ellipsoid {
    Vec3 c, inv;  // centre, 1 / radii
    float ox, oy, oz, oo;
    Ellipsoid(Vec3 centre, Vec3 radii) : c(centre), inv{1 / radii.x, 1 / radii.y, 1 / radii.z} {
        ox = -c.x * inv.x;
        oy = -c.y * inv.y;
        oz = -c.z * inv.z;
        oo = ox * ox + oy * oy + oz * oz - 1;
    }
    float hit(float a, float b) const {
        const float dx = a * inv.x, dy = b * inv.y, dz = inv.z;
        const float A = dx * dx + dy * dy + dz * dz;
        const float B = ox * dx + oy * dy + oz * dz;
        const float disc = B * B - A * oo;
        if (disc < 0) return kInf;
        const float t = (-B - std::sqrt(disc)) / A;
        return t > 0 ? t : kInf;
    }
};

// An ellipsoid with axes along the unit vectors e0, e1, e2.
struct OrientedEllipsoid {
    Vec3 m0, m1, m2;   // rows of the world-to-unit-sphere map: e_k / radius_k
    float c0, c1, c2;  // the centre in those coordinates
    float cc;
    OrientedEllipsoid(Vec3 centre, Vec3 e0, Vec3 e1, Vec3 e2, Vec3 radii)
        : m0(e0 * (1 / radii.x)), m1(e1 * (1 / radii.y)), m2(e2 * (1 / radii.z)) {
        c0 = dot(m0, centre);
        c1 = dot(m1, centre);
        c2 = dot(m2, centre);
        cc = c0 * c0 + c1 * c1 + c2 * c2 - 1;
    }
    float hit(float a, float b) const {
        const Vec3 d{a, b, 1};
        const float d0 = dot(m0, d), d1 = dot(m1, d), d2 = dot(m2, d);
        const float A = d0 * d0 + d1 * d1 + d2 * d2;
        const float B = d0 * c0 + d1 * c1 + d2 * c2;
        const float disc = B * B - A * cc;
        if (disc < 0) return kInf;
        const float t = (B - std::sqrt(disc)) / A;
        return t > 0 ? t : kInf;
    }
};

struct Capsule {
    Vec3 pa, pb, ba;
    float r2, baba;
    Capsule(Vec3 a, Vec3 b, float r) : pa(a), pb(b), ba(b - a), r2(r * r), baba(dot(ba, ba)) {
        if (baba < 1e-6f) baba = 1e-6f;
    }
    static float sphere(Vec3 d, float dd, Vec3 centre, float r2) {
        const float B = dot(d, centre);
        const float h = B * B - dd * (dot(centre, centre) - r2);
        if (h < 0) return kInf;
        const float t = (B - std::sqrt(h)) / dd;
        return t > 0 ? t : kInf;
    }
    float hit(float a, float b) const {
        const Vec3 d{a, b, 1};
        const Vec3 oa = pa * -1.0f;  // origin - pa
        const float dd = dot(d, d), bard = dot(ba, d), baoa = dot(ba, oa);
        const float rdoa = dot(d, oa), oaoa = dot(oa, oa);
        const float qa = baba * dd - bard * bard;
        const float qb = baba * rdoa - baoa * bard;
        const float qc = baba * oaoa - baoa * baoa - r2 * baba;
        const float h = qb * qb - qa * qc;
        if (h < 0) return kInf;
        if (qa > 1e-9f) {
            const float t = (-qb - std::sqrt(h)) / qa;
            const float y = baoa + t * bard;
            if (y > 0 && y < baba) return t > 0 ? t : kInf;
            return sphere(d, dd, y <= 0 ? pa : pb, r2);
        }
        return std::min(sphere(d, dd, pa, r2), sphere(d, dd, pb, r2));
    }
    void bounds(Vec3& lo, Vec3& hi) const {
        const float r = std::sqrt(r2);
        lo = {std::min(pa.x, pb.x) - r, std::min(pa.y, pb.y) - r, std::min(pa.z, pb.z) - r};
        hi = {std::max(pa.x, pb.x) + r, std::max(pa.y, pb.y) + r, std::max(pa.z, pb.z) + r};
    }
};

struct AxisBox {
    Vec3 lo, hi;
    float hit(float a, float b) const {
        const float ia = 1.0f / (a == 0 ? 1e-12f : a), ib = 1.0f / (b == 0 ? 1e-12f : b);
        float t0 = lo.z, t1 = hi.z;  // the ray's z is t
        float tx0 = lo.x * ia, tx1 = hi.x * ia;
        if (tx0 > tx1) std::swap(tx0, tx1);
        float ty0 = lo.y * ib, ty1 = hi.y * ib;
        if (ty0 > ty1) std::swap(ty0, ty1);
        t0 = std::max({t0, tx0, ty0});
        t1 = std::min({t1, tx1, ty1});
        return t0 <= t1 && t0 > 0 ? t0 : kInf;
    }
};

// Depth of every whole shift value, 0 where the sensor gives no reading.
const std::array<uint16_t, noise::kMaxShift + 1>& shiftTable() {
    static const auto table = [] {
        std::array<uint16_t, noise::kMaxShift + 1> t{};
        for (int s = 0; s <= noise::kMaxShift; ++s) {
            const float z = noise::depthOfShift(static_cast<float>(s));
            t[static_cast<size_t>(s)] = z >= noise::kMinRange && z <= noise::kMaxRange
                                            ? static_cast<uint16_t>(std::lround(z))
                                            : 0;
        }
        return t;
    }();
    return table;
}

// A hand with a palm, fingers and a thumb (Pose::handFrame), with a tapered forearm and a wrist.
template <typename CapsuleFn, typename DrawFn>
void drawShapedHand(const Pose& pose, int s, float scale, uint8_t forearm, uint8_t hand,
                    const CapsuleFn& capsule, const DrawFn& draw) {
    const HandFrame& f = pose.handFrame[s];
    const Vec3 elbow = pose.elbow[s], wrist = pose.wrist[s];
    const Vec3 mid = elbow + (wrist - elbow) * 0.5f;
    capsule(elbow, mid, pose.forearmRadius * 0.9f, forearm);
    capsule(mid, wrist, pose.forearmRadius * 0.72f, forearm);
    const Vec3 heel = f.palm - f.axis * (kPalmRadii.y * 0.8f * scale);
    capsule(wrist, heel, pose.forearmRadius * 0.62f, forearm);

    Vec3 normal = cross(f.axis, f.across);  // towards the sensor
    if (normal.z > 0) normal = normal * -1.0f;
    const Vec3 radii = kPalmRadii * scale;
    const OrientedEllipsoid palm(f.palm, f.across, f.axis, normal, radii);
    const float reach = std::max(radii.x, radii.y);
    draw(f.palm - Vec3{reach, reach, reach}, f.palm + Vec3{reach, reach, reach}, hand, palm);

    auto at = [&](float along, float across, float forward) {
        return f.palm + f.axis * (along * scale) + f.across * (across * scale) +
               normal * (forward * scale);
    };
    auto finger = [&](int k, float degrees) {
        const float a = degrees * std::numbers::pi_v<float> / 180;
        const Finger& g = kFingers[k];
        const Vec3 base = at(g.along, g.across, 0);
        const Vec3 dir = f.axis * std::cos(a) + f.across * std::sin(a);
        capsule(base, base + dir * (g.length * scale), g.radius * scale, hand);
    };
    const HandShape shape = pose.shape[s];
    if (shape == HandShape::kOpen || shape == HandShape::kSpread) {
        const float* angles = shape == HandShape::kOpen ? kOpenAngles : kSpreadAngles;
        for (int k = 0; k < 4; ++k) finger(k, angles[k]);
        const float thumb =
            (shape == HandShape::kOpen ? 40.0f : 60.0f) * std::numbers::pi_v<float> / 180;
        const Vec3 base = at(-15, 34, 0);
        const Vec3 dir = f.axis * std::cos(thumb) + f.across * std::sin(thumb);
        capsule(base, base + dir * (55 * scale), 10 * scale, hand);
        return;
    }
    // Fist or pointing: curled fingers as a row of knuckles in front of the palm's top, the
    // thumb across them; pointing keeps the index finger straight.
    const bool point = shape == HandShape::kPoint;
    if (point) finger(0, 0);
    capsule(at(kPalmRadii.y - 5, -30, 8), at(kPalmRadii.y - 5, point ? 2 : 30, 8), 16 * scale,
            hand);
    capsule(at(-5, 34, 10), at(28, 6, 16), 10 * scale, hand);
}

}  // namespace

Renderer::Renderer(const Scene& scene)
    : Renderer(scene, scene.sensor.projection.width, scene.sensor.projection.height) {}

Renderer::Renderer(const Scene& scene, int width, int height) : scene_(scene) {
    proj_ = scene.sensor.projection;
    proj_.width = std::max(1, width);
    proj_.height = std::max(1, height);
    scene_.sensor.projection = proj_;
    const size_t n = static_cast<size_t>(proj_.width) * static_cast<size_t>(proj_.height);
    zbuf_.resize(n);
    labels_.resize(n);
    shadow_.resize(n);
    invZ_.resize(n);
    if (scene_.sensor.noise && scene_.sensor.realistic) {
        // Noise correlated like a real sensor's: lag-1 correlation about 0.45, 0.2 at 2 px,
        // nearly none from 3 px (640 x 480), from a triangular kernel most of the noise goes
        // through; the same field, read elsewhere, shapes holes at edges and in patches.

        fieldW_ = 2 * proj_.width;
        fieldH_ = 2 * proj_.height;
        const size_t fn = static_cast<size_t>(fieldW_) * static_cast<size_t>(fieldH_);
        std::vector<float> white(fn), pass(fn);
        field_.assign(fn, 0.0f);
        noise::Random rng(scene_.sensor.seed ^ 0xF1E1DULL);
        for (float& v : white) v = rng.gaussian();
        const bool large = proj_.width >= 640;
        const float kernel5[5] = {1, 2, 3, 2, 1}, kernel3[5] = {0, 1, 2, 1, 0};
        const float* k = large ? kernel5 : kernel3;
        const float norm = large ? 19.0f : 6.0f;  // sum of squares: unit variance after both
        auto at = [&](const std::vector<float>& f, int i, int j) {
            i = (i + fieldW_) % fieldW_;
            j = (j + fieldH_) % fieldH_;
            return f[static_cast<size_t>(j) * static_cast<size_t>(fieldW_) +
                     static_cast<size_t>(i)];
        };
        for (int j = 0; j < fieldH_; ++j)
            for (int i = 0; i < fieldW_; ++i) {
                float sum = 0;
                for (int d = -2; d <= 2; ++d) sum += k[d + 2] * at(white, i + d, j);
                pass[static_cast<size_t>(j) * static_cast<size_t>(fieldW_) +
                     static_cast<size_t>(i)] = sum;
            }
        for (int j = 0; j < fieldH_; ++j)
            for (int i = 0; i < fieldW_; ++i) {
                float sum = 0;
                for (int d = -2; d <= 2; ++d) sum += k[d + 2] * at(pass, i, j + d);
                field_[static_cast<size_t>(j) * static_cast<size_t>(fieldW_) +
                       static_cast<size_t>(i)] = sum / norm;
            }
        // Patches without readings: a few everywhere, many on dark or shiny surfaces and hair.
        std::fill(std::begin(patchLimit_), std::end(patchLimit_), 3.0f);
        patchLimit_[kLabelNone] = kInf;
        patchLimit_[kLabelDark] = 0.35f;
        patchLimit_[kLabelShiny] = 0.6f;
        for (size_t i = 0; i < scene_.people.size(); ++i) {
            const Person& person = scene_.people[i];
            const int p = static_cast<int>(i);
            if (person.hair) patchLimit_[personLabel(p, kHair)] = 0.1f;
            if (person.sleeve == Sleeve::kDark) {
                patchLimit_[personLabel(p, kSleeveLeft)] = 0.5f;
                patchLimit_[personLabel(p, kSleeveRight)] = 0.5f;
            }
        }
    }
    rayX_.resize(static_cast<size_t>(proj_.width));
    rayY_.resize(static_cast<size_t>(proj_.height));
    for (int i = 0; i < proj_.width; ++i)
        rayX_[static_cast<size_t>(i)] =
            (static_cast<float>(i) / static_cast<float>(proj_.width) - 0.5f) * proj_.xzFactor();
    for (int j = 0; j < proj_.height; ++j)
        rayY_[static_cast<size_t>(j)] =
            (0.5f - static_cast<float>(j) / static_cast<float>(proj_.height)) * proj_.yzFactor();
}

void Renderer::render(int frame, uint16_t* depth) {
    const double t = scene_.frameTime(frame);
    renderIdeal(t);
    if (scene_.sensor.noise && scene_.sensor.realistic)
        applyRealNoise(frame, depth);
    else if (scene_.sensor.noise)
        applyNoise(frame, depth);
    else
        copyExact(depth);

    groundTruth(scene_, frame, truth_);
    for (HandTruth& h : truth_.hands) {
        const Person& person = scene_.people[static_cast<size_t>(h.person)];
        Vec3 radii = person.size.handRadii();
        if (person.shapeAt(h.side, truth_.time) != HandShape::kSimple) {
            const float reach = fingerReach(HandShape::kOpen) * person.size.s();
            radii = {reach, reach, reach};
        }
        const Rect r = screenRect(proj_, h.palm - radii, h.palm + radii);
        const uint8_t label = personLabel(h.person, h.side == kLeft ? kHandLeft : kHandRight);
        int count = 0;
        for (int j = r.y0; j < r.y1; ++j) {
            const uint8_t* row =
                labels_.data() + static_cast<size_t>(j) * static_cast<size_t>(proj_.width);
            for (int i = r.x0; i < r.x1; ++i) count += row[i] == label;
        }
        h.visiblePixels = count;
    }
}

void Renderer::renderIdeal(double t) {
    const int W = proj_.width, H = proj_.height;
    const Room& room = scene_.room;
    for (int j = 0; j < H; ++j) {
        float z = room.hasWall ? room.wallZ : kInf;
        uint8_t label = room.hasWall ? kLabelWall : kLabelNone;
        const float b = rayY_[static_cast<size_t>(j)];
        if (room.hasFloor && b < 0) {
            const float zf = room.floorY / b;
            if (zf < z) {
                z = zf;
                label = kLabelFloor;
            }
        }
        std::fill_n(zbuf_.begin() + static_cast<ptrdiff_t>(j) * W, W, z);
        std::fill_n(labels_.begin() + static_cast<ptrdiff_t>(j) * W, W, label);
    }

    auto draw = [&](Vec3 lo, Vec3 hi, uint8_t label, const auto& shape) {
        const Rect r = screenRect(proj_, lo, hi);
        for (int j = r.y0; j < r.y1; ++j) {
            const float b = rayY_[static_cast<size_t>(j)];
            const size_t row = static_cast<size_t>(j) * static_cast<size_t>(W);
            float* zrow = zbuf_.data() + row;
            uint8_t* lrow = labels_.data() + row;
            for (int i = r.x0; i < r.x1; ++i) {
                const float tz = shape.hit(rayX_[static_cast<size_t>(i)], b);
                if (tz < zrow[i]) {
                    zrow[i] = tz;
                    lrow[i] = label;
                }
            }
        }
    };
    auto ellipsoid = [&](Vec3 c, Vec3 radii, uint8_t label) {
        draw(c - radii, c + radii, label, Ellipsoid(c, radii));
    };
    auto capsule = [&](Vec3 a, Vec3 b, float radius, uint8_t label) {
        const Capsule cap(a, b, radius);
        Vec3 lo, hi;
        cap.bounds(lo, hi);
        draw(lo, hi, label, cap);
    };

    auto surfaceLabel = [](Surface s) {
        return s == Surface::kDark ? kLabelDark : s == Surface::kShiny ? kLabelShiny : kLabelBox;
    };
    auto box = [&](Vec3 centre, Vec3 size, uint8_t label) {
        const AxisBox shape{centre - size * 0.5f, centre + size * 0.5f};
        draw(shape.lo, shape.hi, label, shape);
    };
    for (const Box& b : scene_.boxes) box(b.centre, b.size, surfaceLabel(b.surface));
    for (const Bar& b : scene_.bars) capsule(b.from, b.to, b.radius, surfaceLabel(b.surface));
    for (const Desk& d : scene_.desks) {
        const uint8_t label = surfaceLabel(d.surface);
        const float top = room.floorY + d.height;
        box({d.x, top - 15, d.z}, {d.width, 30, d.depth}, label);
        for (const float side : {-1.0f, 1.0f})  // side panels
            box({d.x + side * (d.width / 2 - 15), room.floorY + (d.height - 30) / 2, d.z},
                {30, d.height - 30, d.depth * 0.9f}, label);
        if (d.laptop) {  // base at the user's edge, the lid's back towards the sensor
            const float baseZ = d.z + d.depth / 2 - 150;
            box({d.x, top + 10, baseZ}, {340, 20, 240}, kLabelBox);
            box({d.x, top + 20 + 115, baseZ - 120}, {340, 230, 8}, kLabelBox);
        }
    }
    for (size_t i = 0; i < scene_.people.size(); ++i) {
        const int p = static_cast<int>(i);
        const Person& person = scene_.people[i];
        const Pose pose = person.poseAt(t, room.floorY);
        ellipsoid(pose.torsoCentre, pose.torsoRadii, personLabel(p, kTorso));
        ellipsoid(pose.headCentre, pose.headRadii, personLabel(p, kHead));
        capsule(pose.headCentre, pose.torsoCentre + Vec3{0, pose.torsoRadii.y, 0},
                pose.headRadii.x * 0.6f, personLabel(p, kHead));  // neck
        if (person.hair)  // over the top, the back and the sides of the head
            ellipsoid(pose.headCentre + Vec3{0, 0.012f * person.size.height, 6},
                      pose.headRadii * 1.09f, personLabel(p, kHair));
        for (int s = 0; s < 2; ++s) {
            const bool left = s == kLeft;
            const uint8_t forearm = personLabel(p, left ? kForearmLeft : kForearmRight);
            const uint8_t hand = personLabel(p, left ? kHandLeft : kHandRight);
            capsule(pose.shoulder[s], pose.elbow[s], pose.upperArmRadius,
                    personLabel(p, left ? kUpperArmLeft : kUpperArmRight));
            if (pose.shape[s] == HandShape::kSimple) {
                capsule(pose.elbow[s], pose.wrist[s], pose.forearmRadius, forearm);
                ellipsoid(pose.hand[s], pose.handRadii, hand);
            } else {
                drawShapedHand(pose, s, person.size.s(), forearm, hand, capsule, draw);
            }
            if (person.sleeve != Sleeve::kNone) {
                const uint8_t sleeve = personLabel(p, left ? kSleeveLeft : kSleeveRight);
                const float r = pose.upperArmRadius * 1.15f;
                const Vec3 elbow = pose.elbow[s], shoulder = pose.shoulder[s];
                if (person.sleeve == Sleeve::kShort) {
                    capsule(shoulder, shoulder + (elbow - shoulder) * 0.5f, r, sleeve);
                } else {  // to a cuff a fifth of the forearm short of the wrist
                    capsule(shoulder, elbow, r, sleeve);
                    capsule(elbow, elbow + (pose.wrist[s] - elbow) * 0.8f,
                            0.025f * person.size.height, sleeve);
                }
            }
            const uint8_t leg = personLabel(p, left ? kLegLeft : kLegRight);
            if (pose.seated) {
                capsule(pose.hip[s], pose.knee[s], pose.legRadius, leg);
                capsule(pose.knee[s], pose.foot[s], pose.legRadius * 0.85f, leg);
            } else {
                capsule(pose.hip[s], pose.foot[s], pose.legRadius, leg);
            }
        }
    }
}

void Renderer::copyExact(uint16_t* depth) const {
    for (size_t k = 0; k < zbuf_.size(); ++k) {
        const float z = zbuf_[k];
        // Depths are never negative, so adding a half rounds.
        // NOLINTNEXTLINE(bugprone-incorrect-roundings)
        depth[k] = z <= kLargestReading ? static_cast<uint16_t>(z + 0.5f) : 0;
    }
}

void Renderer::castShadows() {
    const int W = proj_.width, H = proj_.height;
    const size_t w = static_cast<size_t>(W);
    // Projector shadows. The projector at +baseline sees a point of pixel
    // column i and depth z in its own column i - k / z; scanning each row from
    // the right, a point whose projector column is not left of every nearer
    // one already seen is hidden from the projector.
    const float k = proj_.focalX() * noise::kProjectorBaseline;
    for (int j = 0; j < H; ++j) {
        const float* zrow = zbuf_.data() + static_cast<size_t>(j) * w;
        float* irow = invZ_.data() + static_cast<size_t>(j) * w;
        uint8_t* srow = shadow_.data() + static_cast<size_t>(j) * w;
        for (int i = 0; i < W; ++i) irow[i] = 1.0f / zrow[i];  // 0 where nothing is seen
        float minColumn = kInf;
        for (int i = W - 1; i >= 0; --i) {
            const float inv = irow[i];
            const float column = static_cast<float>(i) - k * inv;
            const bool hidden = inv > 0 && column >= minColumn;
            if (inv > 0 && !hidden) minColumn = column;
            srow[i] = hidden;
            irow[i] = hidden ? 0.0f : inv;
        }
    }
}

void Renderer::applyNoise(int frame, uint16_t* depth) {
    const int W = proj_.width, H = proj_.height;
    const size_t w = static_cast<size_t>(W);

    castShadows();

    noise::Random rng(scene_.sensor.seed * 0x100000001B3ULL ^
                      static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ULL);
    const auto& table = shiftTable();
    // s = kS0 - kS1 / z is the continuous shift value of depth z; adding 0.5
    // makes the conversion to an index round.
    constexpr float kS0 = 800.0f + 4.0f * (7.5f / 0.1042f + 0.375f) + 0.5f;
    constexpr float kS1 = 4.0f * 9000.0f / 0.1042f;
    constexpr float kShiftLimit = noise::kMaxShift + 1;
    const float pJitter = noise::kEdgeDropProbability +
                          (1 - noise::kEdgeDropProbability) * noise::kEdgeJitterProbability;

    for (int j = 0; j < H; ++j) {
        const size_t row = static_cast<size_t>(j) * w;
        const float* zrow = zbuf_.data() + row;
        const float* irow = invZ_.data() + row;
        uint16_t* out = depth + row;
        for (int i = 0; i < W; ++i) {
            float inv = irow[i];
            if (inv == 0) {  // nothing there, or in the projector's shadow
                out[i] = 0;
                continue;
            }
            // Depth edges: drop-outs and one-pixel lateral jitter.
            const float z = zrow[i];
            const float up = j > 0 ? zrow[i - W] : z, down = j + 1 < H ? zrow[i + W] : z;
            const float left = i > 0 ? zrow[i - 1] : z, right = i + 1 < W ? zrow[i + 1] : z;
            const float jump = std::max(std::max(std::fabs(up - z), std::fabs(down - z)),
                                        std::max(std::fabs(left - z), std::fabs(right - z)));
            if (jump > noise::edgeJump(z)) {
                const float r = rng.uniform();
                if (r < noise::kEdgeDropProbability) {
                    out[i] = 0;
                    continue;
                }
                if (r < pJitter) {
                    const uint64_t pick = rng.next() >> 62;
                    const int ni = i + (pick == 0 ? -1 : pick == 1 ? 1 : 0);
                    const int nj = j + (pick == 2 ? -1 : pick == 3 ? 1 : 0);
                    if (ni >= 0 && ni < W && nj >= 0 && nj < H)
                        inv = invZ_[static_cast<size_t>(nj) * w + static_cast<size_t>(ni)];
                    if (inv == 0) {
                        out[i] = 0;
                        continue;
                    }
                }
            }
            const float s = kS0 - kS1 * inv + noise::kShiftSigma * rng.gaussian();
            out[i] = s >= 0 && s < kShiftLimit ? table[static_cast<size_t>(s)] : 0;
        }
    }
}

// The realistic model (calibrated on Kinect v1 and PrimeSense frames at 640 x 480): readings
// scatter as in applyNoise but mostly correlated over 2 to 3 px; depth edges leave holes of 1 to
// 3 px on their far side, ragged along the edge, and near silhouettes fray by taking the far
// neighbour's depth; thin structures break up; dark and shiny surfaces and hair read 0 in
// patches; a few small holes appear anywhere; and the last columns read nothing, as on a
// Kinect v1. Every reading stays a whole disparity step.
void Renderer::applyRealNoise(int frame, uint16_t* depth) {
    const int W = proj_.width, H = proj_.height;
    const size_t w = static_cast<size_t>(W);
    castShadows();

    noise::Random rng(scene_.sensor.seed * 0x100000001B3ULL ^
                      static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ULL ^ 0x5EA1ULL);
    const auto& table = shiftTable();
    constexpr float kS0 = 800.0f + 4.0f * (7.5f / 0.1042f + 0.375f) + 0.5f;
    constexpr float kS1 = 4.0f * 9000.0f / 0.1042f;
    constexpr float kShiftLimit = noise::kMaxShift + 1;
    constexpr float kWhite = 0.17f, kCorrelated = 0.37f;  // disparity steps; 0.41 in all
    // Field offsets: one per frame for the depth noise and the edges, a fixed and a moving one
    // for the patches (they flicker but mostly stay).
    const auto offset = [&](int size) {
        return static_cast<int>(rng.next() % static_cast<uint64_t>(size));
    };
    const int nx = offset(W), ny = offset(H), ex = offset(W), ey = offset(H);
    const int px = offset(W), py = offset(H), tx = offset(W), ty = offset(H);
    // Thin structures break up in pieces that flicker and wander to and fro: part of their
    // pattern slides by up to 10 px (at 320 x 240) at 1 to 2 Hz.
    const double t = scene_.frameTime(frame);
    const double phase = static_cast<double>(scene_.sensor.seed % 1000);
    const double px320 = static_cast<double>(W) / 320.0;
    constexpr double kTau = 2 * std::numbers::pi;
    const int wx =
        W / 2 + static_cast<int>(std::lround(px320 * (6 * std::sin(kTau * 0.9 * t + phase) +
                                                      4 * std::sin(kTau * 1.7 * t + 2 * phase))));
    const int wy =
        H / 4 + static_cast<int>(std::lround(px320 * 3 * std::sin(kTau * 1.3 * t + 3 * phase)));
    const int thinLimit = W >= 640 ? 3 : 2;  // px: narrower structures break up
    const int deadColumns = W / 80;          // the last columns never read (8 at 640 x 480)
    const size_t fw = static_cast<size_t>(fieldW_);
    const bool large = W >= 640;

    auto nearer = [&](const float* zrow, int i, int j, int d, float z, float jump) {
        const float limit = z - jump;
        return (i >= d && zrow[i - d] < limit) || (i + d < W && zrow[i + d] < limit) ||
               (j >= d && zrow[i - d * W] < limit) || (j + d < H && zrow[i + d * W] < limit);
    };
    // Nearer than both neighbours within thinLimit px along a row or a column.
    auto thin = [&](const float* zrow, int i, int j, float z, float jump) {
        const float limit = z + jump;
        const auto far = [&](int step, int reach) {
            for (int d = 1; d <= thinLimit; ++d) {
                if (d > reach) return false;
                if (zrow[i + d * step] > limit) return true;
            }
            return false;
        };
        return (far(-1, i) && far(1, W - 1 - i)) || (far(-W, j) && far(W, H - 1 - j));
    };
    for (int j = 0; j < H; ++j) {
        const size_t row = static_cast<size_t>(j) * w;
        const float* zrow = zbuf_.data() + row;
        const float* irow = invZ_.data() + row;
        const uint8_t* lrow = labels_.data() + row;
        const float* thinRow =
            field_.data() + static_cast<size_t>(j + ty) * fw + static_cast<size_t>(tx);
        const float* wanderRow =
            field_.data() + static_cast<size_t>(j + wy) * fw + static_cast<size_t>(wx);
        const float* noiseRow =
            field_.data() + static_cast<size_t>(j + ny) * fw + static_cast<size_t>(nx);
        const float* edgeRow =
            field_.data() + static_cast<size_t>(j + ey) * fw + static_cast<size_t>(ex);
        const float* fixedRow =
            field_.data() + static_cast<size_t>(j + H / 2) * fw + static_cast<size_t>(W / 2);
        const float* patchRow =
            field_.data() + static_cast<size_t>(j + py) * fw + static_cast<size_t>(px);
        uint16_t* out = depth + row;
        for (int i = 0; i < W; ++i) {
            float inv = irow[i];
            if (inv == 0 || i >= W - deadColumns) {
                out[i] = 0;
                continue;
            }
            if (0.8f * fixedRow[i] + 0.6f * patchRow[i] > patchLimit_[lrow[i]]) {
                out[i] = 0;
                continue;
            }
            const float z = zrow[i];
            const float jump = noise::edgeJump(z);
            const float e = edgeRow[i];
            // Far side of an edge: a hole 1 to 3 px wide (1 to 2 at 320 x 240).
            if ((e > -0.4f && nearer(zrow, i, j, 1, z, jump)) ||
                (e > (large ? 0.6f : 1.3f) && nearer(zrow, i, j, 2, z, jump)) ||
                (large && e > 1.3f && nearer(zrow, i, j, 3, z, jump))) {
                out[i] = 0;
                continue;
            }
            // Thin structures (cables, strips, frames): much of them reads 0, in pieces that
            // change from frame to frame.
            if (0.5f * thinRow[i] + 0.87f * wanderRow[i] > -0.3f && thin(zrow, i, j, z, jump)) {
                out[i] = 0;
                continue;
            }
            // Near side: the silhouette frays, taking the far neighbour's depth.
            if (e < -0.6f) {
                const float limit = z + jump;
                int pick = -1;
                if (i > 0 && zrow[i - 1] > limit)
                    pick = i - 1;
                else if (i + 1 < W && zrow[i + 1] > limit)
                    pick = i + 1;
                else if (j > 0 && zrow[i - W] > limit)
                    pick = i - W;
                else if (j + 1 < H && zrow[i + W] > limit)
                    pick = i + W;
                if (pick >= 0) {
                    inv = irow[pick];
                    if (inv == 0) {
                        out[i] = 0;
                        continue;
                    }
                }
            }
            const float s = kS0 - kS1 * inv + kWhite * rng.gaussian() + kCorrelated * noiseRow[i];
            out[i] = s >= 0 && s < kShiftLimit ? table[static_cast<size_t>(s)] : 0;
        }
    }
}

void writeTruthCsv(Renderer& renderer, std::ostream& out) {
    std::vector<uint16_t> depth(static_cast<size_t>(renderer.width()) *
                                static_cast<size_t>(renderer.height()));
    const Scene& scene = renderer.scene();
    out << "frame,time,person,name,hand,x,y,z,u,v,in_view,visible_pixels\n";
    for (int k = 0; k < scene.frameCount(); ++k) {
        renderer.render(k, depth.data());
        const FrameTruth& truth = renderer.truth();
        for (const HandTruth& h : truth.hands) {
            char line[256];
            std::snprintf(line, sizeof line, "%d,%.4f,%d,%s,%s,%.1f,%.1f,%.1f,%.2f,%.2f,%d,%d\n", k,
                          truth.time, h.person,
                          scene.people[static_cast<size_t>(h.person)].name.c_str(),
                          h.side == kLeft ? "left" : "right", h.palm.x, h.palm.y, h.palm.z, h.u,
                          h.v, h.inView ? 1 : 0, h.visiblePixels);
            out << line;
        }
    }
}

}  // namespace sim
