#include "trace/replay_port.h"

#include <algorithm>
#include <chrono>

namespace quillon {

ReplayPort::ReplayPort(std::vector<RecordedChunk> chunks, Clock& clock, double speed)
    : clock_(clock), speed_(speed > 0 ? speed : 1.0)
{
    for (const RecordedChunk& chunk : chunks) {
        bool first = true;
        for (const std::uint8_t byte : chunk.bytes) {
            bytes_.push_back({chunk.timeUs, byte, first && chunk.afterReply});
            first = false;
        }
    }
}

std::uint64_t ReplayPort::Elapsed()
{
    if (!started_.exchange(true)) {
        startUs_ = clock_.NowMicros();
    }
    return static_cast<std::uint64_t>(static_cast<double>(clock_.NowMicros() - startUs_) * speed_);
}

bool ReplayPort::Due(std::size_t index, std::uint64_t now) const
{
    const TimedByte& timed = bytes_[index];
    if (timed.timeUs > now) {
        return false;
    }
    return !timed.afterReply || writes_.load() != writesAtLastRead_ || now - timed.timeUs >= kAnswerWaitUs;
}

bool ReplayPort::BytesWaiting(std::size_t& count)
{
    const std::uint64_t now = Elapsed();
    const std::size_t next = next_.load();
    std::size_t due = next;
    // Only the first byte may wait for an answer: the rest follow it.
    while (due < bytes_.size() &&
           (due == next ? Due(due, now) : bytes_[due].timeUs <= now && !bytes_[due].afterReply)) {
        ++due;
    }
    count = due - next;
    return true;
}

bool ReplayPort::ReadByte(std::uint8_t& byte)
{
    const std::size_t next = next_.load();
    if (next == bytes_.size() || !Due(next, Elapsed())) {
        return false;
    }
    byte = bytes_[next].byte;
    writesAtLastRead_ = writes_.load();
    next_.store(next + 1);
    return true;
}

bool ReplayPort::Write(const std::uint8_t*, std::size_t)
{
    {
        const std::lock_guard lock(writeMutex_);
        writes_.fetch_add(1);
    }
    written_.notify_all();
    return true;
}

void ReplayPort::WaitForInput(int timeoutMs)
{
    // Taken first, so an answer written while the wait is worked out ends it.
    const std::uint64_t seen = writes_.load();
    auto wait = std::chrono::microseconds(std::chrono::milliseconds(timeoutMs));
    const std::size_t next = next_.load();
    if (next < bytes_.size()) {
        const std::uint64_t now = Elapsed();
        const TimedByte& timed = bytes_[next];
        // A byte waiting for the panel's answer waits until that answer (or
        // the end of its wait); any other until its time.
        std::uint64_t until = timed.timeUs;
        if (Due(next, now)) {
            until = now;
        } else if (timed.timeUs <= now) {
            until = timed.timeUs + kAnswerWaitUs;
        }
        const std::uint64_t due = until > now ? until - now : 0;
        wait = std::min(wait, std::chrono::microseconds(static_cast<std::int64_t>(static_cast<double>(due) / speed_)));
    }
    std::unique_lock lock(writeMutex_);
    written_.wait_for(lock, wait, [this, seen] { return writes_.load() != seen; });
}

} // namespace quillon
