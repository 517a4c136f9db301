#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quillon {

// What the engine needs of the serial line. BytesWaiting, ReadByte and
// WaitForInput are called from the reader thread, Write from the thread that
// ticks the engine; an implementation must allow both at once and tolerate
// being closed or reopened while the reader waits.
class PanelPort {
public:
    virtual ~PanelPort() = default;
    // Number of bytes queued for reading; false when the port cannot be
    // queried (not open, device gone), which the reader treats as none.
    virtual bool BytesWaiting(std::size_t& count) = 0;
    // Reads exactly one byte without blocking; false if none could be read.
    virtual bool ReadByte(std::uint8_t& byte) = 0;
    // Writes all bytes in one call, giving up after the port's write time-out.
    virtual bool Write(const std::uint8_t* data, std::size_t length) = 0;
    // Blocks until input may be waiting or timeoutMs have passed. Must not
    // return at once over and over while nothing can be read (a closed port,
    // a hung-up line), so the reader never spins.
    virtual void WaitForInput(int timeoutMs) = 0;
    // How long the panel holds the block it has just completed before it
    // answers, in milliseconds: asked once a block, on the ticking thread. A
    // line that slows the panel down on purpose says so; a line is not slow
    // of itself.
    virtual std::uint32_t ReplyHoldMs() { return 0; }
    // The line can bring no byte more: a recording played to its end. The
    // device is not silent then, it is over, so the panel keeps its screen
    // instead of timing the device out.
    virtual bool LineEnded() const { return false; }
};

// The millisecond up-time clock. Time-outs compare unsigned 32-bit
// differences, so the value may wrap. Called from both threads.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t NowMs() = 0;
    // Finer time for time stamps only (never for time-outs): microseconds on
    // the same scale as NowMs.
    virtual std::uint64_t NowMicros() { return std::uint64_t{NowMs()} * 1000; }
};

// The real clock: milliseconds of the steady clock, truncated to 32 bits. It
// wraps after about 49.7 days; the time-outs compare unsigned differences, so
// the wrap is harmless.
class SteadyClock final : public Clock {
public:
    std::uint32_t NowMs() override
    {
        const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
    }
    std::uint64_t NowMicros() override
    {
        const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceStart).count());
    }
};

} // namespace quillon
