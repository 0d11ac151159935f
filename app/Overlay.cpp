#include "app/Overlay.h"

#include <GL/gl.h>

#include <cmath>

using gesture::Point3f;

void updateAnchors(int32_t handCount, const gesture::FeedbackState& state,
                   const Point3f* screenPoints, OverlayAnchors& anchors) {
    if (handCount == 0) {
        anchors.twoHands[0] = Point3f{};
        anchors.twoHands[1] = Point3f{};
    } else if (handCount == 1 && state.anchorFollows == 1) {
        anchors.oneHand[0] = screenPoints[0];
    } else if (handCount == 2 && state.doubleBeep == 1) {
        anchors.twoHands[0] = screenPoints[0];
        anchors.twoHands[1] = screenPoints[1];
    }
}

namespace {

void begin(float red, float green, float blue) {
    glEnable(GL_BLEND);
    glColor4f(red, green, blue, 1.0f);
    glLineWidth(5.0f);
}

void circlePoint(double cx, double cy, double r, int i, double& x, double& y) {
    const auto a = static_cast<float>(i * 0.01745329250018306);
    x = cx + r * static_cast<double>(std::sin(a));
    y = cy + r * static_cast<double>(std::cos(a));
}

}  // namespace

void drawCircle(double cx, double cy, double r, float red, float green, float blue, int filled) {
    begin(red, green, blue);
    double px = 0.0;
    double py = 0.0;
    if (filled != 0) {
        px = cx;
        py = cy;
        glBegin(GL_TRIANGLES);
        for (int i = 0; i <= 360; ++i) {
            double x = 0.0;
            double y = 0.0;
            circlePoint(cx, cy, r, i, x, y);
            glVertex2d(cx, cy);
            glVertex2d(px, py);
            glVertex2d(x, y);
            px = x;
            py = y;
        }
        glEnd();
    } else {
        circlePoint(cx, cy, r, 0, px, py);
        glBegin(GL_LINE_LOOP);
        for (int i = 1; i <= 360; ++i) {
            double x = 0.0;
            double y = 0.0;
            circlePoint(cx, cy, r, i, x, y);
            glVertex2d(px, py);
            glVertex2d(x, y);
            px = x;
            py = y;
        }
        glEnd();
    }
    glDisable(GL_BLEND);
}

void drawSquare(double cx, double cy, double h, float red, float green, float blue) {
    begin(red, green, blue);
    glBegin(GL_LINE_LOOP);
    glVertex3f(static_cast<float>(cx - h), static_cast<float>(cy - h), 0.0f);
    glVertex3f(static_cast<float>(cx + h), static_cast<float>(cy - h), 0.0f);
    glVertex3f(static_cast<float>(cx + h), static_cast<float>(cy + h), 0.0f);
    glVertex3f(static_cast<float>(cx - h), static_cast<float>(cy + h), 0.0f);
    glEnd();
    glDisable(GL_BLEND);
}

void drawTicks(double cx, double cy, double h, float red, float green, float blue, int length) {
    begin(red, green, blue);
    const double t = length;
    const double lines[4][4] = {{cx, cy - h - t, cx, cy - h},
                                {cx, cy + h + t, cx, cy + h},
                                {cx - h - t, cy, cx - h, cy},
                                {cx + h + t, cy, cx + h, cy}};
    for (const auto& l : lines) {
        glBegin(GL_LINES);
        glVertex2d(l[0], l[1]);
        glVertex2d(l[2], l[3]);
        glEnd();
    }
    glDisable(GL_BLEND);
}

void drawOverlay(int32_t n, const gesture::FeedbackState& state, const Point3f* screenPoints,
                 const OverlayAnchors& anchors, float markerScale) {
    const int b = static_cast<int>(markerScale * 10.0f);
    const int t = static_cast<int>(markerScale * 15.0f);
    const float r = 0.0f;
    const float g = 1.0f;
    const float bl = 0.0f;
    if (n != 1 && n != 2) return;
    for (int i = 0; i < n; ++i) {
        const double px = screenPoints[i].x;
        const double py = screenPoints[i].y + 5.0;
        const double ax = anchors.oneHand[i].x;
        const double ay = anchors.oneHand[i].y + 5.0;
        const double bx = anchors.twoHands[i].x;
        const double by = anchors.twoHands[i].y + 5.0;
        drawCircle(px, py, 5.0, r, g, bl, 1);
        if (n == 1 && state.mode == 1) {
            drawSquare(ax, ay, b, r, g, bl);
            drawTicks(ax, ay, b, r, g, bl, t);
        } else if (n == 1) {
            if (state.mouseActive == 0) {
                drawCircle(px, py, b, r, g, bl, 0);
            } else {
                drawCircle(ax, ay, b, r, g, bl, 0);
                drawTicks(ax, ay, b, r, g, bl, t);
            }
        } else if (state.twoHandBox == 1) {
            drawSquare(bx, by, b, r, g, bl);
        } else if (state.mouseActive == 1) {
            drawCircle(bx, by, b, r, g, bl, 0);
        }
    }
}
