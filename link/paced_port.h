#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "link/engine_interfaces.h"
#include "link/port_wrapper.h"
#include "link/timed_sender.h"

namespace quillon {

// Bits a byte takes on the line: a start bit, eight data bits, a stop bit.
inline constexpr std::uint64_t kLineBitsPerByte = 10;
// The line rates a paced port takes. Below the slowest, one byte would last
// longer than the panel's 120 ms of quiet after a receive error, so a healthy
// line would look silent in the middle of a frame; above the fastest a byte
// lasts under 2.5 microseconds, about what waking a thread costs, and pacing
// could not keep time.
inline constexpr std::uint32_t kSlowestLineRate = 110;
inline constexpr std::uint32_t kFastestLineRate = 4000000;

// Reads a line rate in baud as a user gives it: a whole number from
// kSlowestLineRate to kFastestLineRate, or 0 for a line left unpaced.
// Anything else yields nothing and error says what was wrong and what is
// taken.
std::optional<std::uint32_t> ParseLineRate(std::string_view text, std::string& error);

// When the bytes sent down one direction of a line arrive: each one's last
// bit arrives one byte time after the previous one's, or one byte time after
// it was sent if the line was idle by then. Times are microseconds; the byte
// times are counted from the start of each busy stretch, so rounding never
// adds up.
class LineSchedule {
public:
    explicit LineSchedule(std::uint32_t baud) : baud_(baud) {}
    // The arrival of a byte sent at sentUs.
    std::uint64_t Next(std::uint64_t sentUs);

private:
    std::uint64_t ArrivalOf(std::uint64_t count) const
    {
        return startUs_ + (count * kLineBitsPerByte * 1000000 + baud_ - 1) / baud_;
    }

    std::uint64_t baud_;
    std::uint64_t startUs_ = 0;
    std::uint64_t count_ = 0;
};

// A port that makes the line between the panel and the device as slow as a
// cable at a given baud rate, in both directions, whatever the port it wraps
// (a TCP link, an in-process line) would do. A received byte becomes readable
// only once its last bit would have arrived, so the receiver takes it, and
// stamps its events, at that moment. Written bytes are queued and handed to
// the wrapped port one by one as their last bits would leave the cable: a
// write returns at once, as a serial port's does once the driver has the
// bytes, because the longest reply (12 bytes, 12.5 ms at 9600) would
// otherwise hold the ticking thread past its 10 ms tick, and on the desktop
// that thread is the window's.
//
// It is meant for links faster than a cable (TCP, an in-process line): a
// serial port's hardware paces already, and wrapping it would add a byte
// time in each direction. At rate 0 every call goes straight to the wrapped
// port. Times come from the engine's clock (microseconds), so a test moves
// them by hand.
class PacedPort final : public PortWrapper {
public:
    // Bytes taken from the wrapped port before their time, and bytes written
    // but not yet handed over, at most: seconds of line at 9600 either way.
    static constexpr std::size_t kMaxQueued = TimedSender::kMaxQueued;

    PacedPort(PanelPort& inner, Clock& clock, std::uint32_t baud);
    ~PacedPort() override;
    PacedPort(const PacedPort&) = delete;
    PacedPort& operator=(const PacedPort&) = delete;

    // Reader thread.
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    void WaitForInput(int timeoutMs) override;
    // Ticking thread: false when the bytes could not be queued (the line is
    // more than kMaxQueued bytes behind).
    bool Write(const std::uint8_t* data, std::size_t length) override;

    // The sender thread, which hands written bytes over at their times.
    void Start();
    void Stop();
    // Hands over every written byte whose time has come. The sender
    // thread's loop body; tests and tools without the thread call it
    // themselves.
    void SendDue();

private:
    // Takes what the wrapped port has, as room allows; false when it cannot
    // be queried.
    bool TakeFromInner(std::uint64_t nowUs);

    Clock& clock_;
    std::uint32_t baud_;

    // Reader thread only.
    std::deque<TimedByte> received_;
    LineSchedule receiveLine_;

    // Ticking thread only.
    LineSchedule sendLine_;
    TimedSender sender_;
};

} // namespace quillon
