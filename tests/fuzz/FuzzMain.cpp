// libFuzzer entry of one harness, chosen at build time with
// TOLVANE_FUZZ_HARNESS (a function of FuzzTargets.h). A broken expectation
// aborts with its description, which libFuzzer reports as a crash.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The configuration loader logs every line it reads; keep the fuzzer's
    // own report (on standard error) readable.
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problems = fuzz::TOLVANE_FUZZ_HARNESS(fuzz::Input(data, size));
    if (!problems.empty()) {
        std::fprintf(stderr, "\n%s", problems.c_str());
        std::abort();
    }
    return 0;
}
