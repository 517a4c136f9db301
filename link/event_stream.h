#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/link_events.h"
#include "link/spsc_ring.h"

namespace quillon {

// Carries the engine's events to one observer on the thread that ticks the
// engine. The reader thread's events wait in a bounded ring that never
// blocks or allocates; when it is full they are counted as dropped, and the
// count is reported as an event of its own. With no observer attached the
// reader does not even build its events.
class EventStream {
public:
    // About a second of the line's events at 9600 baud (a byte and an error
    // for each byte of a flood), made only when an observer is first
    // attached.
    static constexpr std::size_t kReaderCapacity = 1024;

    // Ticking thread.
    void SetObserver(LinkObserver* observer);
    bool observed() const { return observer_ != nullptr; }
    // Delivers what the reader queued, then this event, then what was told
    // to follow it.
    void Emit(const LinkEvent& event);
    // Holds an event back until the next one is emitted: what a stage on the
    // line did to a write is told after the event of the write itself.
    void EmitAfterNext(const LinkEvent& event);
    // Delivers what was told to follow the next event now, when no event of
    // its own follows.
    void EmitHeld();
    // Delivers what the reader queued.
    void Drain();

    // Reader thread.
    bool wanted() const { return wanted_.load(std::memory_order_acquire); }
    void PushFromReader(const LinkEvent& event);
    // The queue is filling up: what can be told as a count should be.
    bool Crowded() const;

private:
    LinkObserver* observer_ = nullptr;
    std::atomic<bool> wanted_{false};
    std::unique_ptr<SpscRing<LinkEvent, kReaderCapacity>> fromReader_;
    std::atomic<std::uint32_t> dropped_{0};
    std::uint32_t droppedReported_ = 0;
    // The device's bytes among the dropped events, and when and in which
    // block the first event of a gap was lost.
    std::atomic<std::uint32_t> droppedBytes_{0};
    std::uint32_t droppedBytesReported_ = 0;
    std::atomic<bool> gapOpen_{false};
    std::atomic<std::uint64_t> gapTimeUs_{0};
    std::atomic<std::uint32_t> gapTimeMs_{0};
    std::atomic<std::uint32_t> gapBlock_{0};
    std::vector<LinkEvent> afterNext_;
};

} // namespace quillon
