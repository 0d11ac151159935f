// The viewer: sets up the configuration (and, with the frame loop, the
// sensor and the hand tracker), owns the display window and runs once per
// frame from the GLUT main loop.
#pragma once

#include <memory>

#include "app/CommandLine.h"
#include "config/EventRouter.h"
#include "platform/Desktop.h"

class SampleViewer {
  public:
    SampleViewer(const char* name, const Options& options, platform::Desktop& desktop);
    virtual ~SampleViewer();
    SampleViewer(const SampleViewer&) = delete;
    SampleViewer& operator=(const SampleViewer&) = delete;

    virtual int init(int argc, char** argv);
    virtual int run();
    virtual void display();
    virtual void onKey(unsigned char key, int x, int y);

  protected:
    virtual int initOpenGL(int argc, char** argv);

  private:
    // Releases every key and button the program holds.
    void releaseEverything();

    char name_[256]{};
    const Options& options_;
    platform::Desktop& desktop_;
    std::unique_ptr<EventRouter> router_;
    long frameCount_ = 0;
};

// The one viewer, for the GLUT callbacks, which carry no user data.
extern SampleViewer* currentViewer;
