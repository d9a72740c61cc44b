#pragma once

#include "link/MeterLink.h"

namespace talviren {

// The link's parts, wired once: a port, the four 500 ms timers and the engine. The program
// builds it on Qt's port and timers (MeterSession); the engine's tests build it on fakes.
template <typename Port, typename TickTimer> struct LinkAssembly {
    LinkAssembly() = default;
    LinkAssembly(const LinkAssembly&) = delete;
    LinkAssembly& operator=(const LinkAssembly&) = delete;

    Port port;
    TickTimer Findcomtim; // port scan
    TickTimer comtim;     // polling
    TickTimer comcontim;  // watchdog
    TickTimer readtim;    // block request after the count reply
    MeterLink link{port, LinkTimers{Findcomtim, comtim, comcontim, readtim}};
};

} // namespace talviren
