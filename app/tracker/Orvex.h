/* Orvex: Tolvane's hand-tracking middleware on an OpenNI 2 depth device.
 *
 * A hand tracker opens its own depth stream on an OpenNI 2 device that the caller has opened,
 * and turns every depth frame into a tracker frame: the tracked hands, the focus gestures seen
 * in that frame, and the depth frame itself.
 *
 * Typical use (all calls from one thread):
 *
 *   oniInitialize(ONI_API_VERSION);
 *   oniDeviceOpen(uri, &device);
 *   orvexInitialize();
 *   OrvexHandTrackerHandle tracker = NULL;
 *   if (orvexInitializeHandTrackerByDevice(device, &tracker) != ORVEX_STATUS_OK) fail();
 *   orvexStartGestureDetection(tracker, ORVEX_GESTURE_WAVE);
 *   orvexStartGestureDetection(tracker, ORVEX_GESTURE_CLICK);
 *   orvexSetHandSmoothingFactor(tracker, 0.05f);
 *   for (;;) {
 *       OrvexHandTrackerFrame* frame = NULL;
 *       if (orvexReadHandTrackerFrame(tracker, &frame) != ORVEX_STATUS_OK) {  // ~1 s timeout
 *           orvexHandTrackerFrameRelease(tracker, frame);                     // NULL is fine
 *           continue;
 *       }
 *       for (int i = 0; i < frame->gestureCount; ++i)
 *           if (frame->gestures[i].state & ORVEX_GESTURE_STATE_COMPLETED) {
 *               OrvexHandId id = -1;
 *               orvexStartHandTracking(tracker, &frame->gestures[i].currentPosition, &id);
 *           }
 *       for (int i = 0; i < frame->handCount; ++i)
 *           if (frame->hands[i].state & ORVEX_HAND_STATE_TRACKED) use(frame->hands[i].position);
 *       // frame->depthFrame is the OpenNI frame the hands were found in; oniFrameAddRef it to
 *       // keep it beyond the release below.
 *       orvexHandTrackerFrameRelease(tracker, frame);
 *   }
 *   orvexShutdownHandTracker(tracker);
 *   orvexShutdown();
 *
 * Coordinates. Hand and gesture positions are world millimetres in OpenNI 2's frame: x to the
 * right, y up, z the distance from the sensor along its axis. The two conversion operations
 * map between them and depth-image pixels exactly as OpenNI 2's coordinate converter does for
 * the tracker's depth stream (from its resolution and field of view).
 *
 * Hands. orvexStartHandTracking starts a hand at a position, typically a completed gesture's,
 * with a new id; a request within 150 mm of a hand already tracked returns that hand's id and
 * adds none. Up to ORVEX_MAX_HANDS hands are tracked at once; hands that come close stay
 * apart. Every frame lists each hand with its state bits:
 *   ORVEX_HAND_STATE_TRACKED   the position is valid (set in every frame until the hand is lost
 *                              or leaves the view);
 *   ORVEX_HAND_STATE_NEW       first frame of the hand (with TRACKED);
 *   ORVEX_HAND_STATE_COASTING  the hand was not seen in this frame; the position is predicted
 *                              (with TRACKED). Alone, without TRACKED: the hand left the view
 *                              through the image's edge and is kept where it left (the position
 *                              is not to be used); it is TRACKED again, with its id, when it
 *                              comes back there;
 *   ORVEX_HAND_STATE_LOST      the hand has been without support for 0.6 s, or for 2.5 s after
 *                              leaving the view; reported in exactly one frame, without
 *                              TRACKED, after which the hand and its id are gone.
 *
 * Gestures. Focus gestures are detected once enabled with orvexStartGestureDetection:
 *   ORVEX_GESTURE_WAVE   a hand moving left and right: four reversals of at least 60 mm, each
 *                        swing 0.12 s to 0.8 s, with little vertical or depth motion;
 *   ORVEX_GESTURE_CLICK  a hand pushed 100 mm to 450 mm towards the sensor within 0.1 s to
 *                        0.6 s and brought back at least half way within 0.5 s.
 * A gesture appears in the frame where it completes, with ORVEX_GESTURE_STATE_COMPLETED and the
 * hand's position at that moment; a wave after its second reversal and a push once it has gone
 * far enough also appear once with ORVEX_GESTURE_STATE_IN_PROGRESS. Hands need not be tracked
 * for their gestures to be seen.
 *
 * Smoothing. orvexSetHandSmoothingFactor(f), f in [0, 1): each reported position moves by
 * (1 - f) of the way towards the new measurement, s += (1 - f) (p - s). 0 turns smoothing off;
 * at 30 frames per second the time constant is -33.3 ms / ln(f): 11 ms for 0.05, 48 ms for 0.5,
 * 149 ms for 0.8, 650 ms for 0.95. Values outside [0, 0.999] are clamped. Default 0.
 *
 * Frames. A tracker frame stays valid until orvexHandTrackerFrameRelease; at most
 * ORVEX_MAX_FRAMES_HELD may be held at once (a further read fails with ORVEX_STATUS_ERROR).
 * orvexReadHandTrackerFrame waits up to ORVEX_READ_TIMEOUT_MS for the next depth frame and
 * fails with ORVEX_STATUS_TIMEOUT when none comes, so a stalled sensor never busy-loops. On any
 * failure *frame is set to NULL.
 *
 * Results. Every operation returns an OrvexStatus: 0 (ORVEX_STATUS_OK) on success. Null
 * handles or pointers give ORVEX_STATUS_BAD_ARGUMENT, calls before orvexInitialize
 * ORVEX_STATUS_OUT_OF_FLOW. Text for the last failure: orvexGetLastError().
 *
 * Threads. A tracker and its frames belong to one thread at a time; different trackers are
 * independent.
 */
#ifndef TOLVANE_APP_TRACKER_ORVEX_H
#define TOLVANE_APP_TRACKER_ORVEX_H

#include <OniCAPI.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int OrvexStatus;
enum {
    ORVEX_STATUS_OK = 0,
    ORVEX_STATUS_ERROR = 1,        /* the device or stream failed, or no frame slot is free */
    ORVEX_STATUS_BAD_ARGUMENT = 2, /* null handle or pointer, unknown type, bad position */
    ORVEX_STATUS_OUT_OF_FLOW = 3,  /* called before orvexInitialize or after orvexShutdown */
    ORVEX_STATUS_TIMEOUT = 4,      /* no depth frame within ORVEX_READ_TIMEOUT_MS */
    ORVEX_STATUS_NO_ROOM = 5       /* ORVEX_MAX_HANDS hands are tracked already */
};

enum { ORVEX_MAX_HANDS = 10, ORVEX_MAX_GESTURES = 10, ORVEX_MAX_FRAMES_HELD = 4 };
enum { ORVEX_READ_TIMEOUT_MS = 1000 };

typedef struct OrvexHandTracker* OrvexHandTrackerHandle;
typedef int16_t OrvexHandId;

typedef struct {
    float x, y, z;
} OrvexPoint3f;

typedef int OrvexHandState;
enum {
    ORVEX_HAND_STATE_NEW = 1,
    ORVEX_HAND_STATE_TRACKED = 2,
    ORVEX_HAND_STATE_LOST = 4,
    ORVEX_HAND_STATE_COASTING = 8
};

typedef int OrvexGestureType;
enum { ORVEX_GESTURE_WAVE = 0, ORVEX_GESTURE_CLICK = 1 };

typedef int OrvexGestureState;
enum { ORVEX_GESTURE_STATE_IN_PROGRESS = 2, ORVEX_GESTURE_STATE_COMPLETED = 4 };

typedef struct {
    OrvexHandId id;
    OrvexPoint3f position; /* world mm */
    OrvexHandState state;
} OrvexHandData;

typedef struct {
    OrvexGestureType type;
    OrvexPoint3f currentPosition; /* world mm, where the hand is */
    OrvexGestureState state;
} OrvexGestureData;

typedef struct {
    int handCount;
    OrvexHandData* hands;
    int gestureCount;
    OrvexGestureData* gestures;
    OniFrame* depthFrame; /* 16-bit depth in mm (0 = no reading); held until release */
    uint64_t timestamp;   /* of the depth frame, microseconds */
    int frameIndex;       /* of the depth frame */
} OrvexHandTrackerFrame;

OrvexStatus orvexInitialize(void);
void orvexShutdown(void);
const char* orvexGetLastError(void);

OrvexStatus orvexInitializeHandTrackerByDevice(OniDeviceHandle device,
                                               OrvexHandTrackerHandle* tracker);
OrvexStatus orvexShutdownHandTracker(OrvexHandTrackerHandle tracker);

OrvexStatus orvexStartGestureDetection(OrvexHandTrackerHandle tracker, OrvexGestureType type);
OrvexStatus orvexStopGestureDetection(OrvexHandTrackerHandle tracker, OrvexGestureType type);

OrvexStatus orvexStartHandTracking(OrvexHandTrackerHandle tracker, const OrvexPoint3f* position,
                                   OrvexHandId* newHandId);
OrvexStatus orvexStopHandTracking(OrvexHandTrackerHandle tracker, OrvexHandId id);

OrvexStatus orvexSetHandSmoothingFactor(OrvexHandTrackerHandle tracker, float factor);
OrvexStatus orvexGetHandSmoothingFactor(OrvexHandTrackerHandle tracker, float* factor);

OrvexStatus orvexReadHandTrackerFrame(OrvexHandTrackerHandle tracker,
                                      OrvexHandTrackerFrame** frame);
OrvexStatus orvexHandTrackerFrameRelease(OrvexHandTrackerHandle tracker,
                                         OrvexHandTrackerFrame* frame);

OrvexStatus orvexConvertHandCoordinatesToDepth(OrvexHandTrackerHandle tracker, float x, float y,
                                               float z, float* depthX, float* depthY);
OrvexStatus orvexConvertDepthCoordinatesToHand(OrvexHandTrackerHandle tracker, int depthX,
                                               int depthY, int depthZ, float* x, float* y);

#ifdef __cplusplus
}
#endif

#endif /* TOLVANE_APP_TRACKER_ORVEX_H */
