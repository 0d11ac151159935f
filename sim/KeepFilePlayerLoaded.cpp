// Linked into programs that use the staged OpenNI 2 in sanitizer builds only.
//
// OpenNI 2 unloads its drivers at shutdown, and its own file player
// (libOniFile) leaks a few allocations made when it starts. Once the player is
// unloaded LeakSanitizer can no longer tell whose those allocations were, so
// tests/lsan.supp cannot name it and every OpenNI program would fail at exit.
// Loading the player once more, never to be unloaded, keeps it attributable.
#include <dlfcn.h>

namespace {

struct KeepFilePlayerLoaded {
    KeepFilePlayerLoaded() { dlopen(TOLVANE_STAGED_FILE_PLAYER, RTLD_NOW | RTLD_NODELETE); }
} keepFilePlayerLoaded;

}  // namespace
