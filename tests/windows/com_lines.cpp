#include "tests/windows/com_lines.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <windows.h>

namespace quillon::testing {

namespace {

std::chrono::nanoseconds UserAndKernel(const FILETIME& kernel, const FILETIME& user)
{
    const auto ticks = [](const FILETIME& time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    // FILETIME counts 100 ns.
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);
}

std::string UnplugFile(const ComPair& pair)
{
    const std::string folder = QUILLON_TEST_UNPLUG_DIR;
    if (folder.empty()) {
        return {};
    }
    std::string name = pair.panel;
    for (char& letter : name) {
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    }
    return folder + "/" + name + ".unplugged";
}

} // namespace

bool CanPullOut(const ComPair& pair)
{
    return !UnplugFile(pair).empty();
}

void PullOut(const ComPair& pair)
{
    std::ofstream(UnplugFile(pair)).put('\n');
    // The relay looks for the file every 50 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

void PlugIn(const ComPair& pair)
{
    std::remove(UnplugFile(pair).c_str());
}

std::vector<ComPair> ComPairs()
{
    std::vector<ComPair> pairs;
    std::istringstream list(QUILLON_TEST_COM_PAIRS);
    std::string entry;
    while (std::getline(list, entry, ',')) {
        const auto colon = entry.find(':');
        if (colon != std::string::npos) {
            pairs.push_back({"COM" + entry.substr(0, colon), "COM" + entry.substr(colon + 1)});
        }
    }
    return pairs;
}

Bytes ReadAll(SerialPort& port)
{
    Bytes bytes;
    std::size_t waiting = 0;
    std::uint8_t byte = 0;
    while (port.BytesWaiting(waiting) && waiting > 0 && port.ReadByte(byte)) {
        bytes.push_back(byte);
    }
    return bytes;
}

Bytes Receive(SerialPort& port, std::size_t count, std::chrono::milliseconds limit)
{
    Bytes received;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (received.size() < count && std::chrono::steady_clock::now() < end) {
        const Bytes more = ReadAll(port);
        received.insert(received.end(), more.begin(), more.end());
        if (more.empty()) {
            port.WaitForInput(20);
        }
    }
    return received;
}

void Drain(SerialPort& port)
{
    while (!Receive(port, 1, std::chrono::milliseconds(100)).empty()) {
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool RunningUnderWine()
{
    const HMODULE system = GetModuleHandleA("ntdll.dll");
    return system != nullptr && GetProcAddress(system, "wine_get_version") != nullptr;
}

std::chrono::nanoseconds ProcessCpuTime()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return UserAndKernel(kernel, user);
}

std::chrono::nanoseconds ThreadCpuTime()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return UserAndKernel(kernel, user);
}

} // namespace quillon::testing
