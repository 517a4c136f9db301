#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "display/display_controller.h"
#include "display/display_memory.h"
#include "link/engine_interfaces.h"
#include "link/fault_port.h"
#include "link/fault_rules.h"
#include "link/link_events.h"
#include "link/panel_engine.h"
#include "protocol/protocol.h"

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// A port fed from a byte queue; what the engine writes is collected. Safe to
// feed from one thread while the reader thread drains it.
class QueuePort : public PanelPort {
public:
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;
    bool LineEnded() const override { return ended.load(); }

    void Feed(const Bytes& bytes);
    // Everything written so far, as one write per entry.
    std::vector<Bytes> Writes() const;
    Bytes TakeWritten();
    std::size_t Queued() const;
    // Waits until at least count writes have been made; false if limit
    // passed first.
    bool WaitForWrites(std::size_t count, std::chrono::milliseconds limit) const;
    // Runs once, on the writing thread, right after the next write: a device
    // on a line without transmission delay answering the reply at once.
    void OnNextWrite(std::function<void()> hook);

    // Fault injection.
    std::atomic<bool> queryFails{false};
    std::atomic<bool> readFails{false};
    std::atomic<bool> writeFails{false};
    // The line is over, as a recording played to its end.
    std::atomic<bool> ended{false};

private:
    mutable std::mutex mutex_;
    std::condition_variable inputArrived_;
    mutable std::condition_variable written_;
    std::deque<std::uint8_t> input_;
    std::vector<Bytes> writes_;
    std::function<void()> onNextWrite_;
};

// A clock that moves only when a test moves it, in milliseconds or, for
// time stamps and line pacing, microseconds.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint32_t start = 1000) : nowUs_(std::uint64_t{start} * 1000) {}
    std::uint32_t NowMs() override { return static_cast<std::uint32_t>(nowUs_.load() / 1000); }
    std::uint64_t NowMicros() override { return nowUs_.load(); }
    void Set(std::uint32_t ms) { nowUs_.store(std::uint64_t{ms} * 1000); }
    void Advance(std::uint32_t ms) { nowUs_.fetch_add(std::uint64_t{ms} * 1000); }
    void AdvanceMicros(std::uint64_t us) { nowUs_.fetch_add(us); }

private:
    std::atomic<std::uint64_t> nowUs_;
};

// Every event the engine reported, in order.
class EventLog : public LinkObserver {
public:
    void OnLinkEvent(const LinkEvent& event) override { events.push_back(event); }
    std::vector<LinkEvent> Of(LinkEventKind kind) const;

    std::vector<LinkEvent> events;
};

// Where one column run went: enough to compare the order and placement of
// the runs an operation writes.
struct RunPlace {
    int column;
    int page;
    int length;
    bool operator==(const RunPlace&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RunPlace& run)
{
    return out << "{column " << run.column << ", page " << run.page << ", length " << run.length << "}";
}

// Logs every run the controller reports, with the bytes it left in display
// memory at that moment.
class RunLog : public RunListener {
public:
    explicit RunLog(const DisplayMemory& memory) : memory_(memory) {}
    void RunWritten(const DisplayRect& area) override;

    std::vector<RunPlace> Places() const;
    void Clear() { runs.clear(); }

    struct Run {
        RunPlace place;
        DisplayRect area;
        Bytes bytes;
    };
    std::vector<Run> runs;

private:
    const DisplayMemory& memory_;
};

// A frame from the protocol's encoder, for data written as a brace list.
inline Bytes Frame(std::uint8_t code, const Bytes& data, bool lastOfBlock = true)
{
    return EncodeFrame(code, data, lastOfBlock);
}

// Column bytes of one page of display memory, `count` of them from `first`.
Bytes Columns(const DisplayMemory& memory, int page, int first, int count);

using Pages = std::array<DisplayMemory::Page, kDisplayPages>;
Pages PagesOf(const DisplayMemory& memory);

// One engine on a queue port and a hand-driven clock: link enabled, framed
// replies, every run logged.
struct EngineFixture {
    EngineFixture();
    // Feeds bytes to the port and lets the receiver take them, one pass at a
    // time, until it takes no more.
    void Receive(const Bytes& bytes);
    // Receives a block and runs one tick; returns what was written.
    Bytes Exchange(const Bytes& block);
    const DisplayMemory& display() const { return engine.display(); }

    QueuePort port;
    ManualClock clock;
    PanelEngine engine{port, clock};
    RunLog runs{engine.display()};
};

// An engine behind a fault port on a queue port and a hand-driven clock,
// link enabled, its faults told through the engine's events.
struct FaultyEngine {
    FaultyEngine()
    {
        faults.SetSink(&engine.lineEvents());
        engine.SetLinkEnabled(true);
    }
    // Gives the rule (which must be valid) from now on.
    void Add(std::string_view rule)
    {
        std::string error;
        faults.Add(ParseFaultRule(rule, error).value());
    }
    // Feeds bytes to the port, lets the receiver take them, and ticks.
    void Exchange(const Bytes& bytes)
    {
        device.Feed(bytes);
        while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        engine.Tick();
    }

    QueuePort device;
    ManualClock clock;
    FaultPort faults{device, clock};
    PanelEngine engine{faults, clock};
};

} // namespace quillon::testing
