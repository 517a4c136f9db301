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
    const std::uint32_t dropped = dropped_.load(std::memory_order_relaxed);
    if (dropped != droppedReported_ && observer_ != nullptr) {
        LinkEvent report;
        report.kind = LinkEventKind::EventsDropped;
        report.timeMs = event.timeMs;
        report.dropped = dropped - droppedReported_;
        observer_->OnLinkEvent(report);
    }
    droppedReported_ = dropped;
}

void EventStream::PushFromReader(const LinkEvent& event)
{
    if (!fromReader_->Push(event)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace quillon
