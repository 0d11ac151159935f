#include "app/SampleViewer.h"

#include "app/WindowIcon.h"

#include <GL/freeglut.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gesture/GestureManager.h"
#include "platform/Log.h"
#include "platform/X11PictureWindow.h"

SampleViewer* currentViewer = nullptr;

namespace {

constexpr int kWindowWidth = 720;
constexpr int kWindowHeight = 480;
constexpr int kMaxHands = 20;
// Timed-out reads (about a second each) after which the hands count as gone.
constexpr int kReadsBeforeNoHands = 3;

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

// The configuration file's change time and size in one number; -1 when it
// cannot be read.
long long fileStamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec +
           static_cast<long long>(st.st_size) * 7919LL;
}

}  // namespace

void SampleViewer::requestStop(int code) {
    stopRequest = code + 1;
}

SampleViewer::SampleViewer(const Options& options, platform::Desktop& desktop)
    : options_(options),
      desktop_(desktop),
      gestureFeed_(std::make_unique<gesture::GestureFeed>(desktop)),
      feedback_(std::make_unique<feedback::Feedback>(std::make_unique<platform::X11PictureWindow>(),
                                                     desktop)),
      converter_(std::make_unique<TrackerConverter>(handTracker_)) {
    currentViewer = this;
    std::snprintf(name_, sizeof name_, "%s", "Tolvane");
}

SampleViewer::~SampleViewer() {
    handTracker_.shutdown();
    orvex_.shutdown();
    device_.close();
    openni_.shutdown();
    currentViewer = nullptr;
    // Tearing the gesture manager down releases every key and button held.
    gestureFeed_.reset();
    feedback_.reset();
    depthStream_.destroy();
}

int SampleViewer::init(int argc, char** argv) {
    openni_.initialize();
    const char* uri = options_.device.empty() ? nullptr : options_.device.c_str();
    const OniStatus opened = device_.open(uri);
    if (opened != ONI_STATUS_OK) {
        logLine("Open Device failed:\n%s\n", oniGetExtendedError());
        return opened;
    }
    orvex_.initialize();
    if (handTracker_.create(device_.get()) != ORVEX_STATUS_OK) return 1;
    if (depthStream_.create(device_.get()) != ONI_STATUS_OK) {
        logLine("Tolvane: Couldn't find depth stream:\n%s\n", oniGetExtendedError());
    } else {
        OniVideoMode mode{};
        int size = sizeof mode;
        if (oniStreamGetProperty(depthStream_.get(), ONI_STREAM_PROPERTY_VIDEO_MODE, &mode,
                                 &size) == ONI_STATUS_OK &&
            mode.resolutionX > 0 && mode.resolutionY > 0) {
            depthWidth_ = mode.resolutionX;
            depthHeight_ = mode.resolutionY;
            depthFps_ = mode.fps;
        }
        depthStream_.destroy();
    }
    viewScaleX_ = 720.0f / static_cast<float>(depthWidth_);
    viewScaleY_ = 480.0f / static_cast<float>(depthHeight_);
    gesture::GestureManager& manager = gestureFeed_->manager();
    gestureFeed_->feedbackCode = 0;
    manager.frameRate = depthFps_;
    EventRouter& router = manager.router();
    configStamp_ = fileStamp(options_.configPath);
    if (router.loadGestureConfig(options_.configPath.c_str(), depthWidth_, depthHeight_) != 0) {
        return 1;
    }
    const int32_t code = router.feedbackWindow * 16 + router.feedbackSound;
    manager.feedbackCode = code;
    gestureFeed_->feedbackCode = code;
    feedback_->setup(code, feedbackState_, handCount_);
    if (options_.explain) explainer_ = std::make_unique<gesture::Explainer>(depthFps_);
    tuningOn_ = options_.explain;
    attachDecisionSinks();
    orvexStartGestureDetection(handTracker_.get(), ORVEX_GESTURE_WAVE);
    orvexStartGestureDetection(handTracker_.get(), ORVEX_GESTURE_CLICK);
    orvexSetHandSmoothingFactor(handTracker_.get(), 0.05f);
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
    gestureFeed_->manager().setDecisionSink(decisionSinks_.empty() ? nullptr : &decisionSinks_);
}

void SampleViewer::releaseEverything() {
    gestureFeed_->manager().router().releaseAll();
}

void SampleViewer::watchConfiguration() {
    const long long stamp = fileStamp(options_.configPath);
    if (stamp == configStamp_ || stamp == -1) return;
    configStamp_ = stamp;
    logLine("\nConfiguration file changed: loading it again\n");
    releaseEverything();
    auto fresh = std::make_unique<EventRouter>(desktop_);
    if (fresh->loadGestureConfig(options_.configPath.c_str(), depthWidth_, depthHeight_) != 0) {
        for (const std::string& e : fresh->loadErrors()) logLine("%s\n", e.c_str());
        logLine("The changed configuration has errors: keeping the previous one\n");
        return;
    }
    gestureFeed_->manager().replaceRouter(std::move(fresh));
}

void SampleViewer::endFrame() {
    ++frameCount_;
    if (options_.watch && frameCount_ % 15 == 0) watchConfiguration();
    if (options_.frames >= 0 && frameCount_ >= options_.frames) glutLeaveMainLoop();
    if (stopRequest != 0) {
        exitCode_ = stopRequest - 1;
        glutLeaveMainLoop();
    }
}

void SampleViewer::display() {
    TrackerFrame frame(handTracker_.get());
    const OrvexStatus read = frame.read();
    if (read != ORVEX_STATUS_OK || frame.get() == nullptr) {
        logLine("GetNextData failed\n");
        // Three seconds without any frame (a stalled or unplugged sensor):
        // the hands are not seen, so nothing they hold stays down meanwhile.
        if (read == ORVEX_STATUS_TIMEOUT && ++missedReads_ == kReadsBeforeNoHands) seeNoHands();
        endFrame();
        return;
    }
    missedReads_ = 0;
    FrameRef depth(frame->depthFrame);
    if (depth.get() != nullptr && !depthImage_.allocated()) {
        depthImage_.allocate(depth.get()->videoMode.resolutionX,
                             depth.get()->videoMode.resolutionY);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWindowWidth, kWindowHeight, 0, -1.0, 1.0);
    if (depth.get() != nullptr) drawDepthImage(depth.get());

    for (int i = 0; i < frame->gestureCount; ++i) {
        const OrvexGestureData& g = frame->gestures[i];
        if ((g.state & ORVEX_GESTURE_STATE_COMPLETED) != 0) {
            OrvexHandId id = -1;
            orvexStartHandTracking(handTracker_.get(), &g.currentPosition, &id);
        }
    }
    Point3f positions[kMaxHands];
    int32_t count = 0;
    for (int i = 0; i < frame->handCount; ++i) {
        const OrvexHandData& h = frame->hands[i];
        if ((h.state & ORVEX_HAND_STATE_TRACKED) != 0 && count < kMaxHands) {
            positions[count++] = Point3f{h.position.x, h.position.y, h.position.z};
        }
    }
    processHandPoints(depth.get(), positions, count);
    if (!options_.snapshot.empty() && frameCount_ + 1 == options_.frames) saveSnapshot();
    glutSwapBuffers();
    endFrame();
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

void SampleViewer::drawDepthImage(OniFrame* f) {
    const DepthFrameView view = depthViewOf(f);
    depthImage_.update(view);
    if (!depthImage_.allocated()) return;
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, static_cast<GLsizei>(depthImage_.textureWidth()),
                 static_cast<GLsizei>(depthImage_.textureHeight()), 0, GL_RGB, GL_UNSIGNED_BYTE,
                 depthImage_.texture());
    shownWidth_ = view.resolutionX;
    shownHeight_ = view.resolutionY;
    drawDepthQuad();
}

void SampleViewer::drawDepthQuad() {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    const float u =
        static_cast<float>(shownWidth_) / static_cast<float>(depthImage_.textureWidth());
    const float v =
        static_cast<float>(shownHeight_) / static_cast<float>(depthImage_.textureHeight());
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

void SampleViewer::processHandPoints(OniFrame* depthFrame, const Point3f* positions,
                                     int32_t count) {
    handCount_ = count;
    HandPointSet set;
    convertHands(positions, count, viewScaleX_, viewScaleY_, *converter_, set, screenPoints_);
    if (count >= 2 && depthFrame != nullptr) {
        FrameRef ref(depthFrame);
        const DepthFrameView view = depthViewOf(ref.get());
        computeHandMidpoint(&view, set, *converter_);
    }
    if (paused_) {
        // Paused: the recognisers see no hands, and so do the overlay and
        // the feedback window, which stays down.
        feedNoHands();
    } else {
        gestureFeed_->feedHandPoints(std::span<const Point3f, 3>(set.depth),
                                     std::span<const Point3f, 3>(set.world), count, feedbackState_);
    }
    updateFeedback();
    if (paused_) drawPaused();
}

void SampleViewer::feedNoHands() {
    handCount_ = 0;
    HandPointSet none;
    gestureFeed_->feedHandPoints(std::span<const Point3f, 3>(none.depth),
                                 std::span<const Point3f, 3>(none.world), 0, feedbackState_);
}

void SampleViewer::seeNoHands() {
    feedNoHands();
    // The last picture stays, without the hands that are no longer seen;
    // the feedback window shows no hand and goes down.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (depthImage_.allocated() && shownWidth_ > 0) drawDepthQuad();
    updateFeedback();
    glutSwapBuffers();
}

void SampleViewer::updateFeedback() {
    updateAnchors(handCount_, feedbackState_, screenPoints_, anchors_);
    drawOverlay(handCount_, feedbackState_, screenPoints_, anchors_, markerScale_);
    if (tuningOn_) tuningView_.draw();
    feedback_->update(feedbackState_, handCount_);
}

void SampleViewer::drawPaused() {
    glColor4f(1.0f, 0.8f, 0.0f, 1.0f);
    glRasterPos2i(20, 40);
    glutBitmapString(GLUT_BITMAP_HELVETICA_18,
                     reinterpret_cast<const unsigned char*>("PAUSED - press P to resume"));
}

void SampleViewer::onKey(unsigned char key, int /*x*/, int /*y*/) {
    if (key == 'p' || key == 'P') {
        paused_ = !paused_;
        logLine(paused_ ? "\n>   Paused: everything released\n" : "\n>   Resumed\n");
        if (paused_) releaseEverything();
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
