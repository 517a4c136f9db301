#include "link/timed_sender.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace quillon {

TimedSender::TimedSender(PanelPort& out, Clock& clock, Writes writes) : out_(out), clock_(clock), writes_(writes)
{
}

TimedSender::~TimedSender()
{
    Stop();
}

bool TimedSender::Queue(std::span<const TimedByte> bytes)
{
    {
        const std::lock_guard lock(mutex_);
        if (waiting_.size() + bytes.size() > kMaxQueued) {
            return false;
        }
        waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
        queuedTotal_ += bytes.size();
    }
    queued_.notify_all();
    return true;
}

std::uint64_t TimedSender::Queued()
{
    const std::lock_guard lock(mutex_);
    return queuedTotal_;
}

std::size_t TimedSender::Room()
{
    const std::lock_guard lock(mutex_);
    return kMaxQueued - waiting_.size();
}

bool TimedSender::Send(std::span<const std::uint8_t> bytes, std::uint64_t dueUs)
{
    {
        const std::lock_guard handOver(handOverMutex_);
        std::unique_lock lock(mutex_);
        if (waiting_.empty() && dueUs <= clock_.NowMicros()) {
            lock.unlock();
            return out_.Write(bytes.data(), bytes.size());
        }
        if (waiting_.size() + bytes.size() > kMaxQueued) {
            return false;
        }
        // Never before the bytes queued ahead of them: the line keeps order.
        const std::uint64_t due = waiting_.empty() ? dueUs : std::max(dueUs, waiting_.back().dueUs);
        for (const std::uint8_t byte : bytes) {
            waiting_.push_back({due, byte});
        }
        queuedTotal_ += bytes.size();
    }
    queued_.notify_all();
    return true;
}

void TimedSender::SendDue()
{
    const std::lock_guard handOver(handOverMutex_);
    std::vector<std::uint8_t> due;
    {
        const std::lock_guard lock(mutex_);
        const std::uint64_t now = clock_.NowMicros();
        while (!waiting_.empty() && waiting_.front().dueUs <= now) {
            due.push_back(waiting_.front().byte);
            waiting_.pop_front();
        }
    }
    if (due.empty()) {
        return;
    }
    // A byte the port refuses is lost, as on a cable with nobody at the far
    // end.
    if (writes_ == Writes::Together) {
        out_.Write(due.data(), due.size());
    } else {
        for (const std::uint8_t byte : due) {
            out_.Write(&byte, 1);
        }
    }
    handedOver_.fetch_add(due.size());
}

void TimedSender::Start()
{
    if (!sender_.joinable()) {
        sender_ = std::jthread([this](std::stop_token stop) { SenderLoop(stop); });
    }
}

void TimedSender::Stop()
{
    if (sender_.joinable()) {
        sender_.request_stop();
        queued_.notify_all();
        sender_.join();
    }
}

void TimedSender::SenderLoop(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        SendDue();
        std::unique_lock lock(mutex_);
        if (waiting_.empty()) {
            queued_.wait(lock, stop, [this] { return !waiting_.empty(); });
            continue;
        }
        const std::uint64_t now = clock_.NowMicros();
        const std::uint64_t due = waiting_.front().dueUs;
        if (due > now) {
            queued_.wait_for(lock, stop, std::chrono::microseconds(due - now), [] { return false; });
        }
    }
}

} // namespace quillon
