// The overlay on the depth picture: a green disc at each hand and a sight or
// a circle at the hand's anchor (where it last held still, or where the two
// hands were when their reference was taken).
#pragma once

#include <cstdint>

#include "gesture/FeedbackState.h"
#include "gesture/Point3.h"

struct OverlayAnchors {
    gesture::Point3f oneHand[20];
    gesture::Point3f twoHands[20];
};

// Moves the anchors for this frame.
void updateAnchors(int32_t handCount, const gesture::FeedbackState& state,
                   const gesture::Point3f* screenPoints, OverlayAnchors& anchors);

// Draws the markers (OpenGL, window pixels, y down).
void drawOverlay(int32_t handCount, const gesture::FeedbackState& state,
                 const gesture::Point3f* screenPoints, const OverlayAnchors& anchors,
                 float markerScale);

void drawCircle(double cx, double cy, double r, float red, float green, float blue, int filled);
void drawSquare(double cx, double cy, double h, float red, float green, float blue);
void drawTicks(double cx, double cy, double h, float red, float green, float blue, int length);
