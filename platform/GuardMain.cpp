// tolvane-guard: started by tolvane with a socket on its standard input;
// releases the keys and buttons tolvane still holds when that socket closes.
#include "platform/ReleaseGuard.h"

int main(int argc, char** argv) {
    return platform::runReleaseGuard(0, argc > 1 ? argv[1] : nullptr);
}
