// Hand point processing: the tracked hands' world positions in millimetres,
// their depth-image positions, and, for two hands, the point between them
// found in the depth image.
#pragma once

#include <cstdint>

#include "app/DepthImage.h"
#include "gesture/Point3.h"

using Point3f = gesture::Point3f;

struct HandPointSet {
    int32_t count = 0;
    Point3f world[3];
    Point3f depth[3];
};

// World <-> depth-image conversions of the sensor (the hand tracker's).
class DepthConverter {
  public:
    virtual ~DepthConverter() = default;
    virtual void worldToDepth(float x, float y, float z, float& depthX, float& depthY) = 0;
    virtual void depthToWorld(int depthX, int depthY, int depthZ, float& x, float& y) = 0;
};

// Fills entries 0 and 1 (as many as `count`, at most 3) of `set` from the
// world positions, and writes each hand's window position into
// `screenPoints` (up to 20).
void convertHands(const Point3f* positions, int32_t count, float viewScaleX, float viewScaleY,
                  DepthConverter& converter, HandPointSet& set, Point3f* screenPoints);

// Entry 2: the depth pixel halfway between hands 0 and 1. Falls back to the
// hands' mean position 200 mm behind them when that pixel lies more than
// 1500 mm before or behind the hands. A midpoint outside the image (in x or
// in y) gives zeros and returns 0; otherwise returns 1 (also without a frame).
int computeHandMidpoint(const DepthFrameView* frame, HandPointSet& set, DepthConverter& converter);
