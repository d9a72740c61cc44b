#pragma once

#include "link/LinkObserver.h"
#include "link/MeterLink.h"
#include "records/RecordTable.h"

namespace talviren {

// The link's parts, wired once: a port, the four 500 ms timers, the record table and the
// engine, whose events go to any number of consumers. The program builds it on Qt's port and
// timers (MeterSession); the engine's tests build it on fakes.
template <typename Port, typename TickTimer> struct LinkAssembly {
    LinkAssembly() { link.setObserver(&consumers); }
    ~LinkAssembly() { link.setObserver(nullptr); }
    LinkAssembly(const LinkAssembly&) = delete;
    LinkAssembly& operator=(const LinkAssembly&) = delete;

    Port port;
    TickTimer Findcomtim; // port scan
    TickTimer comtim;     // polling
    TickTimer comcontim;  // watchdog
    TickTimer readtim;    // block request after the count reply
    RecordTable table;
    MeterLink link{port, LinkTimers{Findcomtim, comtim, comcontim, readtim}, table};
    LinkEventFanOut consumers;
};

} // namespace talviren
