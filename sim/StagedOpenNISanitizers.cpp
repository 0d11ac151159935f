// Linked into every program that uses the staged OpenNI 2 (see
// tolvane_use_staged_openni in sim/CMakeLists.txt), in sanitizer builds only.
// OpenNI 2 and its drivers are system libraries built without sanitizers;
// this keeps their own faults out of our reports.
#include <dlfcn.h>

namespace {

// OpenNI 2 unloads its drivers at shutdown, and its file player (libOniFile)
// leaks a few allocations made when it starts. Once the player is unloaded
// LeakSanitizer can no longer tell whose those allocations were, so
// tests/lsan.supp cannot name it. Loading the player once more, never to be
// unloaded, keeps them attributable.
struct KeepFilePlayerLoaded {
    KeepFilePlayerLoaded() { dlopen(TOLVANE_STAGED_FILE_PLAYER, RTLD_NOW | RTLD_NODELETE); }
} keepFilePlayerLoaded;

#if defined(TOLVANE_MESA_DRI_DRIVER)
// The same for Mesa's software renderer, which the GLUT window uses under
// Xvfb: it is unloaded when the window's display closes at exit, leaving the
// frame buffers it never freed (1.4 MB for the 720 x 480 window) without a
// name for tests/lsan.supp ("swrast") to match.
struct KeepRendererLoaded {
    KeepRendererLoaded() {
        dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
        dlopen(TOLVANE_MESA_DRI_DRIVER, RTLD_NOW | RTLD_NODELETE);
    }
} keepRendererLoaded;
#endif

}  // namespace

#if defined(__SANITIZE_THREAD__)
// OpenNI's events unlock mutexes from other threads and its core and file
// player take their locks in varying order; none of that is ours to fix.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libOpenNI2\nmutex:libOpenNI2\ndeadlock:libOpenNI2\n"
           "race:libOniFile\nmutex:libOniFile\ndeadlock:libOniFile\n";
}
#endif
