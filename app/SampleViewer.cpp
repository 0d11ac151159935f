#include "app/SampleViewer.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"

SampleViewer* currentViewer = nullptr;

namespace {

constexpr int kWindowWidth = 720;
constexpr int kWindowHeight = 480;
constexpr int kDefaultSensorWidth = 320;
constexpr int kDefaultSensorHeight = 240;

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

SampleViewer::SampleViewer(const char* name, const Options& options, platform::Desktop& desktop)
    : options_(options), desktop_(desktop), router_(std::make_unique<EventRouter>(desktop)) {
    std::snprintf(name_, sizeof name_, "%s", name);
    currentViewer = this;
}

SampleViewer::~SampleViewer() {
    logLine("\nrelease keys & mouse...\n");
    if (router_) {
        router_->keyboardEmitter->releaseAllKeys();
        router_->mouseEmitter->releaseAllButtons();
    }
    currentViewer = nullptr;
}

void SampleViewer::releaseEverything() {
    if (!router_) return;
    router_->keyboardEmitter->releaseAllKeys();
    router_->mouseEmitter->releaseAllButtons();
}

int SampleViewer::init(int argc, char** argv) {
    if (router_->loadGestureConfig(options_.configPath.c_str(), kDefaultSensorWidth,
                                   kDefaultSensorHeight) != 0) {
        return 1;
    }
    return initOpenGL(argc, argv);
}

int SampleViewer::run() {
    glutMainLoop();
    return 0;
}

void SampleViewer::display() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glutSwapBuffers();
    ++frameCount_;
    if (options_.frames >= 0 && frameCount_ >= options_.frames) glutLeaveMainLoop();
}

void SampleViewer::onKey(unsigned char key, int /*x*/, int /*y*/) {
    if (key == 27) {
        // Nothing may stay held in the user's desktop when the program ends.
        releaseEverything();
        std::exit(1);
    }
}

int SampleViewer::initOpenGL(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(kWindowWidth, kWindowHeight);
    glutCreateWindow(name_);
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
