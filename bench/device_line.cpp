#include "bench/device_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace quillon::bench {

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

namespace {

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "device line: %s\n", what);
    std::exit(1);
}

} // namespace

DeviceLine::DeviceLine(int baud) : byteTime_(std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte / baud))
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        Die("cannot make a pseudo-terminal");
    }
    path_ = ptsname(master_);
    // Raw from the start, so nothing the device sends before the other end
    // has set the line up is echoed back or held for a newline.
    const int port = open(path_.c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    if (port < 0 || tcgetattr(port, &settings) != 0) {
        Die("cannot set up the pseudo-terminal");
    }
    cfmakeraw(&settings);
    tcsetattr(port, TCSANOW, &settings);
    close(port);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

DeviceLine::~DeviceLine()
{
    close(master_);
}

DeviceLine::Clock::time_point DeviceLine::SendPaced(const Bytes& bytes)
{
    auto next = Clock::now();
    for (const std::uint8_t byte : bytes) {
        std::this_thread::sleep_until(next);
        WriteAll(&byte, 1);
        next += byteTime_;
    }
    return Clock::now();
}

DeviceLine::Clock::time_point DeviceLine::SendBurst(const Bytes& bytes)
{
    WriteAll(bytes.data(), bytes.size());
    return Clock::now();
}

std::optional<DeviceLine::Clock::time_point> DeviceLine::WaitForByte(std::chrono::milliseconds limit)
{
    pollfd entry{master_, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(limit.count()));
    if (ready > 0 && (entry.revents & POLLIN) != 0) {
        return Clock::now();
    }
    if (ready > 0) {
        // The other end is not open: nothing can come yet.
        std::this_thread::sleep_for(limit);
    }
    return std::nullopt;
}

Bytes DeviceLine::Receive(std::size_t count, std::chrono::milliseconds limit)
{
    Bytes received;
    const auto deadline = Clock::now() + limit;
    while (received.size() < count && Clock::now() < deadline) {
        std::uint8_t buffer[64];
        const ssize_t got = read(master_, buffer, std::min(sizeof buffer, count - received.size()));
        if (got > 0) {
            received.insert(received.end(), buffer, buffer + got);
            continue;
        }
        pollfd entry{master_, POLLIN, 0};
        poll(&entry, 1, 5);
    }
    return received;
}

std::size_t DeviceLine::Drain()
{
    std::size_t total = 0;
    std::uint8_t buffer[256];
    for (ssize_t got; (got = read(master_, buffer, sizeof buffer)) > 0;) {
        total += static_cast<std::size_t>(got);
    }
    return total;
}

void DeviceLine::WriteAll(const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = write(master_, data, length);
        if (written > 0) {
            data += written;
            length -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            Die("cannot write to the pseudo-terminal");
        }
    }
}

} // namespace quillon::bench
