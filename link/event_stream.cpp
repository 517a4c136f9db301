#include "link/event_stream.h"

namespace quillon {

void EventStream::SetObserver(LinkObserver* observer)
{
    Drain();
    if (observer != nullptr && !fromReader_) {
        fromReader_ = std::make_unique<SpscRing<LinkEvent, kReaderCapacity>>();
    }
    observer_ = observer;
    // Release: a reader that sees the wish also sees the ring.
    wanted_.store(observer != nullptr, std::memory_order_release);
}

void EventStream::Emit(const LinkEvent& event)
{
    Drain();
    if (observer_ != nullptr) {
        observer_->OnLinkEvent(event);
    }
    // Moved out first: an observer may emit in turn.
    std::vector<LinkEvent> following;
    following.swap(afterNext_);
    for (LinkEvent& held : following) {
        // What was done to a write is told at the write's own time, stamped
        // once the write is over, so the log stays in time order.
        if (held.timeUs < event.timeUs) {
            held.timeUs = event.timeUs;
            held.timeMs = event.timeMs;
        }
        if (observer_ != nullptr) {
            observer_->OnLinkEvent(held);
        }
    }
}

void EventStream::EmitAfterNext(const LinkEvent& event)
{
    if (observer_ != nullptr) {
        afterNext_.push_back(event);
    }
}

void EventStream::EmitHeld()
{
    std::vector<LinkEvent> held;
    held.swap(afterNext_);
    for (const LinkEvent& event : held) {
        if (observer_ != nullptr) {
            observer_->OnLinkEvent(event);
        }
    }
}

void EventStream::Drain()
{
    if (!fromReader_) {
        return;
    }
    LinkEvent event;
    while (fromReader_->Pop(event)) {
        if (observer_ != nullptr) {
            observer_->OnLinkEvent(event);
        }
    }
    // Acquire: the gap's time and block were stored before its count.
    const std::uint32_t dropped = dropped_.load(std::memory_order_acquire);
    if (dropped != droppedReported_ && observer_ != nullptr) {
        LinkEvent report;
        report.kind = LinkEventKind::EventsDropped;
        report.timeMs = gapTimeMs_.load(std::memory_order_relaxed);
        report.timeUs = gapTimeUs_.load(std::memory_order_relaxed);
        report.block = gapBlock_.load(std::memory_order_relaxed);
        report.dropped = dropped - droppedReported_;
        const std::uint32_t bytes = droppedBytes_.load(std::memory_order_relaxed);
        report.value = bytes - droppedBytesReported_;
        droppedBytesReported_ = bytes;
        gapOpen_.store(false, std::memory_order_release);
        observer_->OnLinkEvent(report);
    }
    droppedReported_ = dropped;
}

void EventStream::PushFromReader(const LinkEvent& event)
{
    if (fromReader_->Push(event)) {
        return;
    }
    if (!gapOpen_.exchange(true, std::memory_order_acquire)) {
        gapTimeMs_.store(event.timeMs, std::memory_order_relaxed);
        gapTimeUs_.store(event.timeUs, std::memory_order_relaxed);
        gapBlock_.store(event.block, std::memory_order_relaxed);
    }
    const std::uint32_t bytes = event.kind == LinkEventKind::ByteReceived   ? 1
                                : event.kind == LinkEventKind::BytesRefused ? event.value
                                                                            : 0;
    droppedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    dropped_.fetch_add(1, std::memory_order_release);
}

bool EventStream::Crowded() const
{
    return fromReader_->Queued() >= kReaderCapacity / 2;
}

} // namespace quillon
