#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/blocks.h"

namespace quillon::bench {

// The value below which the given fraction of the values lie (nearest rank);
// NaN when there are none. Both line benchmarks report their latencies so.
double Percentile(std::vector<double> values, double fraction);

// Start bit, eight data bits, stop bit.
inline constexpr int kBitsPerByte = 10;

// The device's end of a pseudo-terminal, raw from the start: the program or
// engine under measurement opens path(), the benchmark plays the device here
// and times what comes back.
class DeviceLine {
public:
    using Clock = std::chrono::steady_clock;

    explicit DeviceLine(int baud);
    ~DeviceLine();
    DeviceLine(const DeviceLine&) = delete;
    DeviceLine& operator=(const DeviceLine&) = delete;

    const std::string& path() const { return path_; }
    std::chrono::nanoseconds byteTime() const { return byteTime_; }

    // Sends the bytes one by one at line speed; returns when the last byte
    // was handed over.
    Clock::time_point SendPaced(const Bytes& bytes);
    // All bytes at once, as if the line were infinitely fast.
    Clock::time_point SendBurst(const Bytes& bytes);
    // Waits up to `limit` for the first byte; returns when it came.
    std::optional<Clock::time_point> WaitForByte(std::chrono::milliseconds limit);
    // Reads until `count` bytes have come or `limit` has passed.
    Bytes Receive(std::size_t count, std::chrono::milliseconds limit);
    // Everything waiting now.
    std::size_t Drain();

private:
    void WriteAll(const std::uint8_t* data, std::size_t length);

    int master_ = -1;
    std::string path_;
    std::chrono::nanoseconds byteTime_;
};

} // namespace quillon::bench
