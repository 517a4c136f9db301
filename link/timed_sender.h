#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <stop_token>
#include <thread>

#include "link/engine_interfaces.h"

namespace quillon {

// A byte with the moment, in the clock's microseconds, it is due.
struct TimedByte {
    std::uint64_t dueUs;
    std::uint8_t byte;
};

// Hands bytes to a port at the moments they are due, in the order they were
// queued, from a thread of its own, so whoever queues them (the ticking
// thread, which on the desktop is the window's) never waits for the line.
// Times come from the engine's clock: a test moves it by hand and calls
// SendDue itself.
class TimedSender {
public:
    // At most this many bytes wait: seconds of line at 9600 baud.
    static constexpr std::size_t kMaxQueued = 4096;

    enum class Writes : std::uint8_t {
        // One write a byte, as a UART hands them on.
        EachByte,
        // The bytes due together in one write, as the panel writes a reply.
        Together,
    };

    TimedSender(PanelPort& out, Clock& clock, Writes writes);
    ~TimedSender();
    TimedSender(const TimedSender&) = delete;
    TimedSender& operator=(const TimedSender&) = delete;

    // False when there is no room for them all; then none is queued.
    bool Queue(std::span<const TimedByte> bytes);
    // The bytes due at dueUs, or as soon as the bytes queued before them have
    // gone. Written at once, on the caller's thread, when nothing waits and
    // their time has come. False when the port refused them or there is no
    // room.
    bool Send(std::span<const std::uint8_t> bytes, std::uint64_t dueUs);
    // Bytes that could still be queued; grows only, unless the caller queues.
    std::size_t Room();
    // Bytes queued since the start (not those written at once), and of them
    // the ones handed to the port: a byte numbered n has left once
    // HandedOver() reaches n.
    std::uint64_t Queued();
    std::uint64_t HandedOver() const { return handedOver_.load(); }
    // Hands over every byte whose time has come.
    void SendDue();

    void Start();
    void Stop();

private:
    void SenderLoop(std::stop_token stop);

    PanelPort& out_;
    Clock& clock_;
    Writes writes_;
    std::mutex mutex_;
    std::condition_variable_any queued_;
    std::deque<TimedByte> waiting_;
    std::uint64_t queuedTotal_ = 0;
    std::atomic<std::uint64_t> handedOver_{0};
    // Held while bytes go to the port, so they leave in order.
    std::mutex handOverMutex_;
    std::jthread sender_;
};

} // namespace quillon
