#pragma once

#include <chrono>
#include <cstdlib>

#include "host/panel_host.h"
#include "link/fault_port.h"
#include "serial/memory_line.h"

// A panel host on a line nobody drives, which takes faults at run time as
// quillon-run's own line does: what the control protocol's fuzz targets
// hand their requests to.

namespace quillon::fuzzing {

inline void Check(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

struct IdlePanel {
    IdlePanel() { host.SetFaults(&faults); }

    MemoryLine line;
    SteadyClock clock;
    FaultPort faults{line.panelEnd(), clock};
    PanelHost host{faults, clock, std::chrono::steady_clock::now()};
};

} // namespace quillon::fuzzing
