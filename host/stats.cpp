#include "host/stats.h"

#include <cstddef>
#include <ctime>

#include "host/json.h"
#include "host/line.h"
#include "host/panel_host.h"
#include "link/fault_port.h"

namespace quillon {

namespace {

Json FaultCounts(const LinkStats& stats)
{
    Json counts = Json::object();
    for (std::size_t kind = 0; kind < stats.faults.size(); ++kind) {
        if (stats.faults[kind] != 0) {
            counts[FaultKindName(static_cast<FaultKind>(kind))] = stats.faults[kind];
        }
    }
    return counts;
}

} // namespace

std::string StatsJson(const PanelHost& host, const Line& line)
{
    const LinkStats& stats = host.stats();
    Json json = {{"replies", stats.replies},
                 {"error_replies", stats.errorReplies},
                 {"timeout_replies", stats.timeoutReplies},
                 {"frames", stats.framesExecuted},
                 {"first_reply_ms", JsonNumber(stats.firstReplyMs)},
                 {"ticks", stats.ticks},
                 {"late_ticks", stats.lateTicks},
                 {"worst_tick_lateness_ms", JsonNumber(stats.worstTickLatenessMs)},
                 {"worst_tick_work_ms", JsonNumber(stats.worstTickWorkMs)},
                 {"events_dropped", stats.eventsDropped},
                 {"bytes_received", stats.bytesReceived},
                 {"refused_bytes", stats.refusedBytes},
                 {"receive_errors", stats.receiveErrors},
                 {"faults", FaultCounts(stats)},
                 {"fault_seed", line.faultSeed()},
                 {"cpu_s", JsonNumber(static_cast<double>(std::clock()) / CLOCKS_PER_SEC)}};
    if (const demo::DemoDeviceThread* device = line.demo()) {
        const demo::DemoStatus demo = device->Status();
        json["demo_blocks"] = demo.blocksSent;
        json["demo_replies"] = demo.replies;
        json["demo_missed_replies"] = demo.timeouts;
        json["demo_error_replies"] = demo.errorReplies;
    }
    return DumpJson(json);
}

} // namespace quillon
