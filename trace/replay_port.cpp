#include "trace/replay_port.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace quillon {

ReplayPort::ReplayPort(std::vector<RecordedChunk> chunks, Clock& clock, double speed)
    : clock_(clock), speed_(speed > 0 ? speed : 1.0)
{
    for (const RecordedChunk& chunk : chunks) {
        for (const std::uint8_t byte : chunk.bytes) {
            bytes_.push_back({chunk.timeUs, byte});
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

bool ReplayPort::BytesWaiting(std::size_t& count)
{
    const std::uint64_t now = Elapsed();
    std::size_t due = next_.load();
    while (due < bytes_.size() && bytes_[due].timeUs <= now) {
        ++due;
    }
    count = due - next_.load();
    return true;
}

bool ReplayPort::ReadByte(std::uint8_t& byte)
{
    const std::size_t next = next_.load();
    if (next == bytes_.size() || bytes_[next].timeUs > Elapsed()) {
        return false;
    }
    byte = bytes_[next].byte;
    next_.store(next + 1);
    return true;
}

bool ReplayPort::Write(const std::uint8_t*, std::size_t)
{
    return true;
}

void ReplayPort::WaitForInput(int timeoutMs)
{
    auto wait = std::chrono::microseconds(std::chrono::milliseconds(timeoutMs));
    const std::size_t next = next_.load();
    if (next < bytes_.size()) {
        const std::uint64_t now = Elapsed();
        const std::uint64_t due = bytes_[next].timeUs > now ? bytes_[next].timeUs - now : 0;
        wait = std::min(wait, std::chrono::microseconds(static_cast<std::int64_t>(static_cast<double>(due) / speed_)));
    }
    std::this_thread::sleep_for(wait);
}

} // namespace quillon
