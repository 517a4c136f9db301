#include "tests/serial/pty_pair.h"

#include <array>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace quillon::testing {

PtyPair::PtyPair()
{
    std::array<char, 128> name{};
    if (openpty(&device_, &portSide_, name.data(), nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    path_ = name.data();
    fcntl(device_, F_SETFL, O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    CloseDevice();
    close(portSide_);
}

void PtyPair::Send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written = write(device_, bytes.data() + sent, bytes.size() - sent);
        if (written <= 0) {
            throw std::runtime_error("the device end could not send");
        }
        sent += static_cast<std::size_t>(written);
    }
}

std::vector<std::uint8_t> PtyPair::TakeReceived()
{
    std::vector<std::uint8_t> received;
    std::array<std::uint8_t, 256> chunk{};
    ssize_t count = 0;
    while ((count = read(device_, chunk.data(), chunk.size())) > 0) {
        received.insert(received.end(), chunk.begin(), chunk.begin() + count);
    }
    return received;
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::uint8_t> received;
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{device_, POLLIN, 0};
        poll(&entry, 1, 10);
        const auto more = TakeReceived();
        received.insert(received.end(), more.begin(), more.end());
    }
    return received;
}

void PtyPair::CloseDevice()
{
    if (device_ >= 0) {
        close(device_);
        device_ = -1;
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace quillon::testing
