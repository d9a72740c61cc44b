// libFuzzer target: any bytes as a compressed log, through the decompression and the log
// reader. An input that breaks an invariant aborts; ./scripts/fuzz keeps it in
// tests/fuzz/log-crashes, which the ordinary suite replays.

#include "../LogFuzzDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const std::string broken = talviren::testing::replayCompressedLog(data, size);
        !broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
