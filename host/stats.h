#pragma once

#include <string>

namespace quillon {

class Line;
class PanelHost;

// The link's figures since the host started, as one line of JSON: replies,
// errors, time-outs, frames, ticks, bytes, the faults injected and their
// seed, the process's CPU time, and the demo device's own counts on its line.
std::string StatsJson(const PanelHost& host, const Line& line);

} // namespace quillon
