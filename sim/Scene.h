// Scenes of the virtual depth sensor: the sensor settings, the room, and the
// people whose hands follow keyframed trajectories. docs/scenes.md describes
// the text format; this header is the library view of a loaded scene.
//
// Typical use (tests, benchmarks, the hand tracker's measurements):
//
//   std::string error;
//   std::optional<sim::Scene> scene = sim::loadScene("scenes/demo.scene", error);
//   if (!scene) { fprintf(stderr, "%s\n", error.c_str()); return 1; }
//   sim::Renderer renderer(*scene);                 // sim/Renderer.h
//   std::vector<uint16_t> depth(renderer.width() * renderer.height());
//   for (int k = 0; k < scene->frameCount(); ++k) {
//       renderer.render(k, depth.data());           // frame k, at time k / fps
//       for (const sim::HandTruth& h : renderer.truth().hands) { ... h.centre ... }
//   }
//
// Nothing here touches OpenNI; the OpenNI 2 driver (sim/driver) is a thin
// layer over this library.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Geometry.h"

namespace sim {

// What the sensor is and how the OpenNI 2 driver serves it.
struct SensorSpec {
    Projection projection;  // 320 x 240 or 640 x 480, field of view
    double fps = 30.0;
    bool noise = true;  // structured-light noise model (sim/Noise.h); off: exact depth
    // With noise: the fuller model measured on real sensors (noise correlated between
    // neighbouring pixels, holes along depth edges, on dark and shiny surfaces and in hair).
    bool realistic = false;
    uint64_t seed = 1;  // noise is a function of (seed, frame index)
    // Driver pacing: > 0 plays at that multiple of real time; <= 0 is the
    // no-drop mode, in which every read gets the next frame.
    double speed = 1.0;
};

struct Room {
    bool hasWall = true;
    float wallZ = 3500;  // back wall: the plane z = wallZ
    bool hasFloor = true;
    float floorY = -1000;  // floor: the plane y = floorY (the sensor is at y = 0)
};

// How a surface returns the projector's pattern: dark or shiny ones read 0 in patches (with the
// realistic noise model only).
enum class Surface : uint8_t { kMatte, kDark, kShiny };

// An axis-aligned box (furniture, an object in front of the user).
struct Box {
    Vec3 centre;
    Vec3 size;  // full extents along x, y, z
    Surface surface = Surface::kMatte;
};

// A rod from one point to another with round ends: cables, shelf edges, door frames.
struct Bar {
    Vec3 from, to;
    float radius = 10;
    Surface surface = Surface::kMatte;
};

// A keyframed path. Between keys the path is a cubic Hermite curve; a "stop"
// key has zero velocity (the hand stops or reverses there), the other keys
// pass through smoothly (circles). Before the first key and after the last the
// path stays at that key.
struct Key {
    double t = 0;
    Vec3 p;
    bool stop = true;
};

class Track {
  public:
    Vec3 at(double t) const;
    double endTime() const { return keys.empty() ? 0.0 : keys.back().t; }
    Vec3 last() const { return keys.empty() ? Vec3{} : keys.back().p; }
    std::vector<Key> keys;
};

enum Side { kLeft = 0, kRight = 1 };

// Body proportions, all derived from the height.
struct BodySize {
    float height = 1750;
    float s() const { return height / 1750.0f; }
    float shoulderX() const { return 192 * s(); }
    float shoulderY() const { return 0.81f * height; }
    float hipY() const { return 0.53f * height; }
    float headY() const { return 0.93f * height; }
    float upperArm() const { return 300 * s(); }
    float forearm() const { return 260 * s(); }
    float handToWrist() const { return 75 * s(); }
    Vec3 handRadii() const { return {47 * s(), 90 * s(), 16 * s()}; }  // palm 94 mm wide
    // A seated body sits this much lower from the hips up (seat 0.26 of the height high).
    float seatDrop() const { return 0.27f * height; }
};

// The shape of a hand. kSimple is one ellipsoid (handRadii); the others have a palm, fingers and
// a thumb, with the palm facing the sensor and the fingers pointing from the wrist onwards.
enum class HandShape : uint8_t { kSimple, kOpen, kSpread, kFist, kPoint };
enum class Sleeve : uint8_t { kNone, kShort, kLong, kDark };

// The hand of a shaped hand, in its own frame: `palm` the palm centre, `axis` from the wrist
// towards the fingers, `across` towards the thumb (both unit vectors, orthogonal).
struct HandFrame {
    Vec3 palm, axis{0, 1, 0}, across{1, 0, 0};
};

// The fingers of a shaped hand at a body height of 1750 mm (scaled with the body): base point
// along the axis and across it (towards the thumb), length, radius and angle (degrees, towards
// the thumb) of each extended finger, index first. Curled fingers are drawn as a row of knuckles.
struct Finger {
    float along, across, length, radius;
};
inline constexpr Finger kFingers[4] = {
    {40, 27, 72, 9}, {40, 9, 80, 9}, {40, -9, 75, 9}, {40, -27, 60, 8}};
inline constexpr float kOpenAngles[4] = {1.5f, 0.5f, -0.5f, -1.5f};
inline constexpr float kSpreadAngles[4] = {22, 6, -10, -28};
inline constexpr Vec3 kPalmRadii{42, 50, 15};  // across, along, thickness
inline constexpr float kPalmToWrist = 50;      // palm centre to the wrist
// How far the hand reaches past the palm centre towards the fingers (at 1750 mm).
float fingerReach(HandShape shape);

// Where every body part is at one moment (world millimetres).
struct Pose {
    Vec3 root;  // on the floor below the body centre
    Vec3 torsoCentre, torsoRadii;
    Vec3 headCentre, headRadii;
    Vec3 shoulder[2], elbow[2], wrist[2], hand[2];
    Vec3 hip[2], foot[2];
    float upperArmRadius = 0, forearmRadius = 0, legRadius = 0;
    Vec3 handRadii;
    // Shaped hands and seated bodies.
    HandShape shape[2] = {HandShape::kSimple, HandShape::kSimple};
    HandFrame handFrame[2];
    bool seated = false;
    Vec3 knee[2];  // seated: the thighs run from the hips to the knees, the shins down to the feet
};

// A hand changes shape at these times (the first entry at time 0).
struct ShapeChange {
    double t = 0;
    HandShape shape = HandShape::kSimple;
};

struct Person {
    std::string name;
    BodySize size;
    Track body;     // root positions (x, floor, z) in world mm
    Track hand[2];  // hand centres (palm centres of shaped hands) relative to the root
    std::vector<ShapeChange> shapes[2];
    bool seated = false;
    Sleeve sleeve = Sleeve::kNone;
    bool hair = false;
    HandShape shapeAt(int side, double t) const;
    Pose poseAt(double t, float floorY) const;
};

// A desk (for seated people): a top at `height` above the floor, optionally with a laptop on it at
// the user's side.
struct Desk {
    float x = 0, z = 800;  // centre of the top
    float width = 1400, depth = 700, height = 730;
    bool laptop = false;
    Surface surface = Surface::kMatte;
};

// A sensor fault that the OpenNI 2 driver plays (docs/scenes.md, "Sensor
// faults"). Frames are named by scene time: a fault starts with the first
// frame at or after `at`.
struct Fault {
    enum class Kind {
        kStall,   // nothing is sent for `duration` seconds of real time
        kZeros,   // every pixel reads 0
        kRange,   // every pixel reads 10000 or more
        kSize,    // width, height, stride and data size disagree with the video mode
        kEmpty,   // no pixels at all
        kVanish,  // the device is gone: nothing is ever sent again
    };
    Kind kind = Kind::kStall;
    double at = 0;        // s, scene time
    double duration = 0;  // s: real time for a stall, scene time for the others (0: one frame)
};

struct Scene {
    std::string source;  // file name (or the name given to parseScene)
    SensorSpec sensor;
    Room room;
    std::vector<Box> boxes;
    std::vector<Bar> bars;
    std::vector<Desk> desks;
    std::vector<Person> people;
    double endTime = 0;  // seconds
    bool loop = false;   // the driver starts over after the last frame
    std::vector<Fault> faults;

    // Frames k = 0 .. frameCount() - 1 at times k / fps, all before endTime.
    int frameCount() const;
    double frameTime(int k) const { return k / sensor.fps; }
    // The first frame at or after scene time t.
    int frameAt(double t) const { return static_cast<int>(std::ceil(t * sensor.fps - 1e-6)); }
};

// One hand's ground truth at one moment.
struct HandTruth {
    int person = 0;  // index into Scene::people
    Side side = kLeft;
    Vec3 centre;  // true centre of the hand solid (palm and fingers), world mm
    Vec3 palm;    // true centre of the palm: where a hand is said to be; equals centre for the
                  // simple (ellipsoid) hand
    float u = 0, v = 0;      // centre projected to the depth image
    bool inView = false;     // centre inside the image and in front of the sensor
    int visiblePixels = -1;  // pixels where the hand is the nearest surface; -1 = not rendered
};

struct FrameTruth {
    int frame = 0;
    double time = 0;
    std::vector<HandTruth> hands;  // person by person, left hand then right
};

// Ground truth without rendering (visiblePixels stays -1). The second form
// reuses truth's storage.
FrameTruth groundTruth(const Scene& scene, int frame);
void groundTruth(const Scene& scene, int frame, FrameTruth& truth);

// Reads and checks a scene file. On failure returns nothing and sets error to
// "file:line: message" (or "file: message" when the file cannot be read).
std::optional<Scene> loadScene(const std::string& path, std::string& error);
// The same for text already in memory; name stands for the file in messages.
std::optional<Scene> parseScene(std::string_view text, const std::string& name, std::string& error);

// Limits that keep any input cheap to load and render.
inline constexpr size_t kMaxSceneBytes = 1 << 20;
inline constexpr int kMaxPeople = 8;
inline constexpr int kMaxBoxes = 64;
inline constexpr int kMaxBars = 64;
inline constexpr int kMaxDesks = 8;
inline constexpr double kMaxSceneSeconds = 3600;
inline constexpr int kMaxFaults = 64;

}  // namespace sim
