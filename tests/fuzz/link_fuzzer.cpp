// libFuzzer target: any sequence of port data, ticks, clicks and open failures against the
// link engine, its decoders and the record table.

#include "../LinkEventDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talviren::testing::LinkEventDriver driver;
    std::span<const std::uint8_t> input(data, size);
    while (driver.step(input)) {
        if (const std::string broken = driver.violation(); !broken.empty()) {
            std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
            std::abort();
        }
    }
    if (const std::string broken = driver.silenceViolation(); !broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
