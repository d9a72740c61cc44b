// libFuzzer target: any bytes as a remote logger's answers against the follower and its
// event-stream reader. An input that breaks an invariant aborts; ./scripts/fuzz keeps it in
// tests/fuzz/remote-crashes, which the ordinary suite replays.

#include "../RemoteFakes.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const std::string broken = talviren::testing::replayRemote(data, size); !broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
