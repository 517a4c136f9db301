#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// Two COM ports whose ends are joined: what one sends the other receives.
struct ComPair {
    std::string panel;
    std::string device;
};

// The joined pairs the tests may use, as the build was told them
// (QUILLON_TEST_COM_PAIRS, "11:12,13:14"); none when it was not.
std::vector<ComPair> ComPairs();

// Pulling a pair's device out and plugging it in again, as a USB adapter
// is: the check script's relay drops the pair while a file named after its
// panel port ("com11.unplugged") lies in the folder the build was told
// (QUILLON_TEST_UNPLUG_DIR), and makes
// it anew, under the same names, once the file is gone.
bool CanPullOut(const ComPair& pair);
void PullOut(const ComPair& pair);
void PlugIn(const ComPair& pair);

// Everything the port has queued, without waiting.
Bytes ReadAll(SerialPort& port);
// Waits up to limit for count bytes from the port; returns what arrived.
Bytes Receive(SerialPort& port, std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
// Reads and drops whatever is on the line until it has been quiet a while.
void Drain(SerialPort& port);

// Checks condition every millisecond until it holds or limit has passed. For
// waiting on another thread, never for driving time.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5));

// Whether the tests run under Wine, whose devices differ from Windows' own in
// ways a test must know of.
bool RunningUnderWine();

// CPU time used by the whole process, and by the calling thread.
std::chrono::nanoseconds ProcessCpuTime();
std::chrono::nanoseconds ThreadCpuTime();

} // namespace quillon::testing
