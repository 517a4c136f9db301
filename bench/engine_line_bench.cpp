// The engine as a front end runs it, without a window: the frame receiver's
// reader thread on a pseudo-terminal, and the supervisor ticked every 10 ms on
// a thread of its own and woken to answer each complete block at once (or
// only on the tick, with --reply-on-tick). A device on the other end sends
// mixed blocks at 9600-baud pacing, each as soon as the reply to the one
// before is in, so the line stays busy.
//
// Each phase runs a fresh engine for the same time: with no observer, with an
// observer that only counts the events, and with one that formats every
// event as a protocol monitor's line and keeps the last thousand. Measured:
// the engine's CPU (every thread but the device's) as a share of one core,
// the reply latency from the block's last byte to the reply's first, and the
// events delivered and dropped.
//
// Usage: engine_line_bench [--seconds S] [--seed N] [--reply-on-tick]

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/blocks.h"
#include "bench/device_line.h"
#include "bench/engine_harness.h"
#include "link/engine_interfaces.h"
#include "link/link_events.h"
#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "serial/serial_port.h"

namespace quillon::bench {

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::steady_clock;

constexpr int kBaud = 9600;
constexpr std::size_t kMixedCount = 1000;
constexpr std::size_t kStatusIndex = 2;
constexpr std::size_t kMonitorLines = 1000;

struct Options {
    int seconds = 30;
    std::uint32_t seed = 7;
    bool replyOnTick = false;
};

double CpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What a protocol monitor does with each event short of painting it: a line
// of text with the time, the kind and the bytes in hex, in a scrollback.
class MonitorObserver final : public LinkObserver {
public:
    void OnLinkEvent(const LinkEvent& event) override
    {
        ++events;
        dropped += event.dropped;
        char head[48];
        std::snprintf(head, sizeof head, "%10" PRIu32 " ms  block %5" PRIu32 "  %-9s", event.timeMs, event.block,
                      KindName(event.kind));
        std::string line = head;
        for (const std::uint8_t byte : event.bytes()) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", byte);
            line += hex;
        }
        if (event.kind == LinkEventKind::ByteReceived) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", event.byte);
            line += hex;
        }
        lines_.push_back(std::move(line));
        if (lines_.size() > kMonitorLines) {
            lines_.pop_front();
        }
    }

    std::uint64_t events = 0;
    std::uint64_t dropped = 0;

private:
    static const char* KindName(LinkEventKind kind)
    {
        switch (kind) {
        case LinkEventKind::ByteReceived:
            return "byte";
        case LinkEventKind::FrameCompleted:
            return "frame";
        case LinkEventKind::ErrorRaised:
            return "error";
        case LinkEventKind::FrameExecuted:
            return "executed";
        case LinkEventKind::ReplySent:
            return "reply";
        case LinkEventKind::SynchRequestSent:
            return "synch";
        case LinkEventKind::TimeoutReply:
            return "timeout";
        case LinkEventKind::EventsDropped:
            return "dropped";
        }
        return "?";
    }

    std::deque<std::string> lines_;
};

struct PhaseResult {
    std::string name;
    double seconds = 0;
    double engineCpuPercent = 0;
    std::size_t blocks = 0;
    std::size_t bytes = 0;
    std::size_t unanswered = 0;
    std::size_t errorReplies = 0;
    std::vector<double> latenciesMs;
    std::uint64_t events = 0;
    std::uint64_t dropped = 0;
};

std::uint8_t LastCode(const Bytes& block)
{
    std::size_t at = 0;
    while (at + block[at + 1] + kFrameOverhead < block.size()) {
        at += block[at + 1] + kFrameOverhead;
    }
    return block[at] & kFunctionCodeMask;
}

template <typename Observer>
PhaseResult RunPhase(const std::string& name, const Options& options, const std::vector<Bytes>& blocks,
                     Observer* observer)
{
    PhaseResult result;
    result.name = name;
    DeviceLine line(kBaud);
    SerialPort port;
    if (const int step = port.OpenCommPort(line.path()); step != 0) {
        std::fprintf(stderr, "engine_line_bench: cannot open %s (step %d)\n", line.path().c_str(), step);
        std::exit(1);
    }
    SteadyClock clock;
    PanelEngine engine(port, clock);
    engine.SetLinkEnabled(true);
    engine.SetReplyOnTick(options.replyOnTick);
    engine.SetObserver(observer);

    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double deviceStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto wallStart = WallClock::now();
    {
        Ticker ticker(engine);
        engine.Start();
        const auto end = wallStart + std::chrono::seconds(options.seconds);
        for (std::size_t next = 0; WallClock::now() < end; next = (next + 1) % blocks.size()) {
            const Bytes& block = blocks[next];
            const auto lastByte = line.SendPaced(block);
            ++result.blocks;
            result.bytes += block.size();
            const auto firstReplyByte = line.WaitForByte(2s);
            if (!firstReplyByte) {
                ++result.unanswered;
                continue;
            }
            result.latenciesMs.push_back(std::chrono::duration<double, std::milli>(*firstReplyByte - lastByte).count());
            const std::size_t expected =
                LastCode(block) == kSetContrastAndReplyMode ? LongStatusFrame(0).size() : ShortStatusFrame(0).size();
            const Bytes reply = line.Receive(expected, 500ms);
            if (reply.size() != expected || (reply[kStatusIndex] & kStatusErrorMask) != 0) {
                ++result.errorReplies;
                std::this_thread::sleep_for(300ms);
                line.Drain();
            }
        }
        engine.Stop();
    }
    result.seconds = std::chrono::duration<double>(WallClock::now() - wallStart).count();
    const double deviceCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - deviceStart;
    const double engineCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - deviceCpu;
    result.engineCpuPercent = 100.0 * engineCpu / result.seconds;
    if (observer != nullptr) {
        result.events = observer->events;
        result.dropped = observer->dropped;
    }
    return result;
}

void Report(const std::vector<PhaseResult>& results)
{
    std::printf("| Observer | engine CPU (%% of one core) | line busy | blocks (unanswered, error replies) | reply "
                "latency p50 / p99 / max | events per second (dropped) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const PhaseResult& r : results) {
        const double lineSeconds = static_cast<double>(r.bytes * kBitsPerByte) / kBaud;
        std::printf("| %s | %.2f %% | %.0f %% | %zu (%zu, %zu) | %.2f / %.2f / %.2f ms | %.0f (%" PRIu64 ") |\n",
                    r.name.c_str(), r.engineCpuPercent, 100.0 * lineSeconds / r.seconds, r.blocks, r.unanswered,
                    r.errorReplies, Percentile(r.latenciesMs, 0.5), Percentile(r.latenciesMs, 0.99),
                    Percentile(r.latenciesMs, 1), static_cast<double>(r.events) / r.seconds, r.dropped);
    }
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--reply-on-tick") {
            options.replyOnTick = true;
        } else if (name == "--seconds" && i + 1 < argc) {
            options.seconds = std::atoi(argv[++i]);
        } else if (name == "--seed" && i + 1 < argc) {
            options.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return false;
        }
    }
    return options.seconds > 0;
}

} // namespace

int Run(const Options& options)
{
    const std::vector<Bytes> blocks = MixedBlocks(kMixedCount, options.seed);
    std::printf("## The engine alone at line rate: %d s per phase, replies %s\n\n", options.seconds,
                options.replyOnTick ? "on the 10 ms tick" : "as soon as a block is complete");
    std::fflush(stdout);
    std::vector<PhaseResult> results;
    results.push_back(RunPhase<CountingObserver>("none", options, blocks, nullptr));
    CountingObserver counting;
    results.push_back(RunPhase("counting the events", options, blocks, &counting));
    MonitorObserver monitor;
    results.push_back(RunPhase("a monitor line per event", options, blocks, &monitor));
    Report(results);
    return 0;
}

} // namespace quillon::bench

int main(int argc, char** argv)
{
    quillon::bench::Options options;
    if (!quillon::bench::ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: engine_line_bench [--seconds S] [--seed N] [--reply-on-tick]\n");
        return 2;
    }
    return quillon::bench::Run(options);
}
