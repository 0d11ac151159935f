// tolvane-guard: started by tolvane with a socket on its standard input;
// releases the keys and buttons tolvane still holds when that socket closes.
//
//   tolvane-guard [DISPLAY]                        on an X display
//   tolvane-guard -wayland KEYBOARD_ID POINTER_ID  on the Wayland connection
//                                                  inherited as fd 3
#include "platform/ReleaseGuard.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "-wayland") == 0) {
        const auto id = [](const char* s) {
            return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
        };
        return platform::runWaylandReleaseGuard(0, platform::kGuardConnectionFd, id(argv[2]),
                                                id(argv[3]));
    }
    return platform::runReleaseGuard(0, argc > 1 ? argv[1] : nullptr);
}
