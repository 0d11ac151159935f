#include "app/SampleViewer.h"

#include "app/WindowIcon.h"

#include <GL/freeglut.h>

#include <csignal>
#include <cstdio>
#include <utility>
#include <vector>

#include "gesture/GestureManager.h"
#include "platform/Log.h"

SampleViewer* currentViewer = nullptr;

namespace {

constexpr int kWindowWidth = 720;
constexpr int kWindowHeight = 480;

volatile std::sig_atomic_t stopRequest = 0;  // 0, or the exit code + 1

void glutDisplay() {
    if (currentViewer != nullptr) currentViewer->display();
}

void glutKeyboard(unsigned char key, int x, int y) {
    if (currentViewer != nullptr) currentViewer->onKey(key, x, y);
}

void glutIdle() {
    glutPostRedisplay();
}

}  // namespace

void SampleViewer::requestStop(int code) {
    stopRequest = code + 1;
}

SampleViewer::SampleViewer(const Options& options, platform::Desktop& desktop,
                           std::unique_ptr<platform::PictureWindow> window)
    : options_(options), loop_(desktop, std::move(window)) {
    currentViewer = this;
    std::snprintf(name_, sizeof name_, "%s", "Tolvane");
}

SampleViewer::~SampleViewer() {
    currentViewer = nullptr;
}

int SampleViewer::init(int argc, char** argv) {
    FrameLoop::Settings settings;
    settings.device = options_.device;
    settings.configPath = options_.configPath;
    settings.watch = options_.watch;
    const int opened = loop_.open(settings);
    if (opened != 0) return opened;
    if (options_.explain) explainer_ = std::make_unique<gesture::Explainer>(loop_.depthFps());
    tuningOn_ = options_.explain;
    attachDecisionSinks();
    return initOpenGL(argc, argv);
}

int SampleViewer::run() {
    glutMainLoop();
    return 0;
}

void SampleViewer::attachDecisionSinks() {
    decisionSinks_.clear();
    decisionSinks_.add(explainer_.get());
    if (options_.trace) decisionSinks_.add(&trace_);
    if (tuningOn_) decisionSinks_.add(&tuningView_);
    loop_.feed().manager().setDecisionSink(decisionSinks_.empty() ? nullptr : &decisionSinks_);
}

void SampleViewer::endFrame() {
    if (options_.frames >= 0 && loop_.frameCount() >= options_.frames) glutLeaveMainLoop();
    if (stopRequest != 0) {
        exitCode_ = stopRequest - 1;
        glutLeaveMainLoop();
    }
}

void SampleViewer::display() {
    draw(loop_.step());
    endFrame();
}

void SampleViewer::draw(FrameLoop::Step step) {
    if (step == FrameLoop::Step::Missed) return;
    const DepthImage& image = loop_.depthImage();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (step == FrameLoop::Step::HandsGone) {
        // The last picture stays, without the hands that are no longer seen.
        if (image.allocated() && loop_.shownWidth() > 0) drawDepthQuad();
        drawOverlayAndTuning();
        glutSwapBuffers();
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWindowWidth, kWindowHeight, 0, -1.0, 1.0);
    if (loop_.depthUpdated()) {
        uploadDepthImage();
        drawDepthQuad();
    }
    drawOverlayAndTuning();
    if (loop_.paused()) drawPaused();
    // The step has counted this frame already.
    if (!options_.snapshot.empty() && loop_.frameCount() == options_.frames) saveSnapshot();
    glutSwapBuffers();
}

void SampleViewer::drawOverlayAndTuning() {
    drawOverlay(loop_.handCount(), loop_.feedbackState(), loop_.screenPoints(), loop_.anchors(),
                markerScale_);
    if (tuningOn_) tuningView_.draw();
}

void SampleViewer::saveSnapshot() {
    std::vector<uint8_t> pixels(static_cast<size_t>(kWindowWidth) * kWindowHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kWindowWidth, kWindowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::FILE* out = std::fopen(options_.snapshot.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "tolvane: cannot write %s\n", options_.snapshot.c_str());
        return;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", kWindowWidth, kWindowHeight);
    // OpenGL's rows run bottom-up; the picture's top-down.
    for (int y = kWindowHeight - 1; y >= 0; --y) {
        std::fwrite(pixels.data() + static_cast<size_t>(y) * kWindowWidth * 3, 1,
                    static_cast<size_t>(kWindowWidth) * 3, out);
    }
    std::fclose(out);
}

void SampleViewer::uploadDepthImage() {
    const DepthImage& image = loop_.depthImage();
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, static_cast<GLsizei>(image.textureWidth()),
                 static_cast<GLsizei>(image.textureHeight()), 0, GL_RGB, GL_UNSIGNED_BYTE,
                 image.texture());
}

void SampleViewer::drawDepthQuad() {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    const DepthImage& image = loop_.depthImage();
    const float u =
        static_cast<float>(loop_.shownWidth()) / static_cast<float>(image.textureWidth());
    const float v =
        static_cast<float>(loop_.shownHeight()) / static_cast<float>(image.textureHeight());
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(0.0f, 0.0f);
    glTexCoord2f(u, 0.0f);
    glVertex2f(static_cast<float>(kWindowWidth), 0.0f);
    glTexCoord2f(u, v);
    glVertex2f(static_cast<float>(kWindowWidth), static_cast<float>(kWindowHeight));
    glTexCoord2f(0.0f, v);
    glVertex2f(0.0f, static_cast<float>(kWindowHeight));
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void SampleViewer::drawPaused() {
    glColor4f(1.0f, 0.8f, 0.0f, 1.0f);
    glRasterPos2i(20, 40);
    glutBitmapString(GLUT_BITMAP_HELVETICA_18,
                     reinterpret_cast<const unsigned char*>("PAUSED - press P to resume"));
}

void SampleViewer::onKey(unsigned char key, int /*x*/, int /*y*/) {
    if (key == 'p' || key == 'P') {
        const bool paused = !loop_.paused();
        logLine(paused ? "\n>   Paused: everything released\n" : "\n>   Resumed\n");
        loop_.setPaused(paused);
        return;
    }
    if (key == 't' || key == 'T') {
        tuningOn_ = !tuningOn_;
        attachDecisionSinks();
        return;
    }
    if (key == 27) {
        // The main loop returns and the viewer is destroyed, which releases
        // everything the program holds before the process ends.
        exitCode_ = 1;
        glutLeaveMainLoop();
    }
}

int SampleViewer::initOpenGL(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(kWindowWidth, kWindowHeight);
    glutCreateWindow(name_);
    setCurrentWindowIcon();
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutSetCursor(GLUT_CURSOR_NONE);
    glutKeyboardFunc(glutKeyboard);
    glutDisplayFunc(glutDisplay);
    glutIdleFunc(glutIdle);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    return 0;
}
