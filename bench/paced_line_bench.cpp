// The paced line on the real clock: the engine with its reader thread and a
// ticking thread on a pseudo-terminal, and a device on the other end that
// sends a 120-byte block and waits for the reply, over and over.
//
// Two phases carry the same bytes at the same rate. In the first the device
// writes each block at once and a PacedPort at 9600 baud paces both
// directions; in the second the line is unpaced and the device itself sends
// a byte every 1.04 ms, as a UART at 9600 would. Measured: how long each
// block takes in the engine's own time stamps from its first byte to its
// last, when its last byte was taken after the device wrote it, how long the
// reply takes to reach the device, and the CPU of every thread but the
// device's as a share of one core; the difference between the phases is the
// cost of pacing.
//
// Usage: paced_line_bench [--blocks N]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/blocks.h"
#include "bench/device_line.h"
#include "bench/engine_harness.h"
#include "link/engine_interfaces.h"
#include "link/link_events.h"
#include "link/paced_port.h"
#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "serial/serial_port.h"

namespace quillon::bench {

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::steady_clock;

constexpr std::uint32_t kBaud = 9600;

double CpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Microseconds(WallClock::time_point at)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count());
}

// A block that fills the receive buffer: one WRITE ARRAY frame of 120 bytes.
Bytes FullBlock()
{
    Bytes data{0, 0};
    while (data.size() < kMaxFrameDataLength) {
        data.push_back(static_cast<std::uint8_t>(data.size()));
    }
    return EncodeFrame(kWriteArray, data, true);
}

// The engine's time stamps of each block's first and last byte, and of each
// reply, on the ticking thread.
class StampObserver final : public LinkObserver {
public:
    struct Block {
        double firstUs = 0;
        double lastUs = 0;
        std::size_t bytes = 0;
    };

    void OnLinkEvent(const LinkEvent& event) override
    {
        if (event.kind == LinkEventKind::ByteReceived) {
            Block& block = blocks[event.block];
            if (block.bytes++ == 0) {
                block.firstUs = static_cast<double>(event.timeUs);
            }
            block.lastUs = static_cast<double>(event.timeUs);
        } else if (event.kind == LinkEventKind::ReplySent) {
            repliesUs.push_back(static_cast<double>(event.timeUs));
        }
    }

    std::map<std::uint32_t, Block> blocks;
    std::vector<double> repliesUs;
};

struct PhaseResult {
    std::string name;
    std::vector<double> spanMs;
    std::vector<double> lastAfterSendMs;
    std::vector<double> replyMs;
    std::size_t unanswered = 0;
    double engineCpuPercent = 0;
};

PhaseResult RunPhase(const std::string& name, std::uint32_t panelBaud, int blocks)
{
    PhaseResult result;
    result.name = name;
    DeviceLine line(static_cast<int>(kBaud));
    SerialPort serial;
    if (const int step = serial.OpenCommPort(line.path()); step != 0) {
        std::fprintf(stderr, "paced_line_bench: cannot open %s (step %d)\n", line.path().c_str(), step);
        std::exit(1);
    }
    SteadyClock clock;
    PacedPort paced(serial, clock, panelBaud);
    PanelEngine engine(paced, clock);
    engine.SetLinkEnabled(true);
    StampObserver stamps;
    engine.SetObserver(&stamps);
    const Bytes block = FullBlock();
    const std::size_t replySize = ShortStatusFrame(0).size();
    std::vector<double> sentUs;
    std::vector<double> repliedUs;

    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double deviceStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto wallStart = WallClock::now();
    {
        Ticker ticker(engine);
        paced.Start();
        engine.Start();
        for (int i = 0; i < blocks; ++i) {
            const auto start = WallClock::now();
            if (panelBaud == 0) {
                line.SendPaced(block);
            } else {
                line.SendBurst(block);
            }
            const Bytes reply = line.Receive(replySize, 2s);
            if (reply.size() != replySize) {
                ++result.unanswered;
                line.Drain();
                continue;
            }
            sentUs.push_back(Microseconds(start));
            repliedUs.push_back(Microseconds(WallClock::now()));
        }
        engine.Stop();
        paced.Stop();
    }
    const double seconds = std::chrono::duration<double>(WallClock::now() - wallStart).count();
    const double deviceCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - deviceStart;
    result.engineCpuPercent = 100.0 * (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - deviceCpu) / seconds;

    std::size_t answered = 0;
    for (const auto& [number, stamped] : stamps.blocks) {
        if (stamped.bytes != block.size() || answered == sentUs.size() || answered == stamps.repliesUs.size()) {
            continue;
        }
        result.spanMs.push_back((stamped.lastUs - stamped.firstUs) / 1000.0);
        result.lastAfterSendMs.push_back((stamped.lastUs - sentUs[answered]) / 1000.0);
        result.replyMs.push_back((repliedUs[answered] - stamps.repliesUs[answered]) / 1000.0);
        ++answered;
    }
    return result;
}

std::string Spread(const std::vector<double>& values)
{
    char text[96];
    std::snprintf(text, sizeof text, "%.3f / %.3f / %.3f ms", Percentile(values, 0), Percentile(values, 0.5),
                  Percentile(values, 1));
    return text;
}

void Report(const std::vector<PhaseResult>& results)
{
    std::printf("| Line | blocks (unanswered) | first byte to last, min / median / max | last byte after the device "
                "wrote | reply to the device | engine CPU (%% of one core) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const PhaseResult& r : results) {
        std::printf("| %s | %zu (%zu) | %s | %s | %s | %.2f %% |\n", r.name.c_str(), r.spanMs.size(), r.unanswered,
                    Spread(r.spanMs).c_str(), Spread(r.lastAfterSendMs).c_str(), Spread(r.replyMs).c_str(),
                    r.engineCpuPercent);
    }
}

} // namespace

int Run(int blocks)
{
    std::printf("## A 120-byte block at 9600 baud: %d blocks per phase\n\n", blocks);
    std::fflush(stdout);
    std::vector<PhaseResult> results;
    results.push_back(RunPhase("PacedPort at 9600, device writes at once", kBaud, blocks));
    results.push_back(RunPhase("unpaced, device sends at 9600", 0, blocks));
    Report(results);
    return 0;
}

} // namespace quillon::bench

int main(int argc, char** argv)
{
    int blocks = 40;
    if (argc == 3 && std::string_view(argv[1]) == "--blocks") {
        blocks = std::atoi(argv[2]);
    }
    if ((argc != 1 && argc != 3) || blocks <= 0) {
        std::fprintf(stderr, "usage: paced_line_bench [--blocks N]\n");
        return 2;
    }
    return quillon::bench::Run(blocks);
}
