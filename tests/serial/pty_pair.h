#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon::testing {

// A pseudo-terminal standing in for a serial cable: the test plays the device
// on one end, and the port under test opens the other end by its path.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The path the port under test opens.
    const std::string& path() const { return path_; }
    // The test's own descriptor of the port's end: reads back the line
    // settings the port made, and can fill the line's output queue.
    int portSide() const { return portSide_; }

    void Send(const std::vector<std::uint8_t>& bytes);
    // What has arrived from the port so far, without waiting.
    std::vector<std::uint8_t> TakeReceived();
    // Waits up to limit for count bytes; returns what arrived.
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Closes the device end, which hangs up the port's end for good.
    void CloseDevice();

private:
    int device_ = -1;
    int portSide_ = -1;
    std::string path_;
};

// Checks condition every millisecond until it holds or limit has passed. For
// waiting on another thread, never for driving time.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace quillon::testing
