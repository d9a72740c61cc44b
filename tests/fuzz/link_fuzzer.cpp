// libFuzzer target: any sequence of port data, ticks, clicks and open failures against the
// link engine, its decoders and the record table. An input that breaks an invariant aborts;
// ./scripts/fuzz keeps it in tests/fuzz/crashes, which the ordinary suite replays.

#include "../LinkEventDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const std::string broken = talviren::testing::LinkEventDriver::replay({data, size});
        !broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
