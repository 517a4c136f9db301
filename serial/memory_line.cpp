#include "serial/memory_line.h"

#include <chrono>

namespace quillon {

bool MemoryLine::End::BytesWaiting(std::size_t& count)
{
    std::lock_guard lock(in_.mutex);
    count = in_.bytes.size();
    return true;
}

bool MemoryLine::End::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(in_.mutex);
    if (in_.bytes.empty()) {
        return false;
    }
    byte = in_.bytes.front();
    in_.bytes.pop_front();
    return true;
}

bool MemoryLine::End::Write(const std::uint8_t* data, std::size_t length)
{
    {
        std::lock_guard lock(out_.mutex);
        out_.bytes.insert(out_.bytes.end(), data, data + length);
    }
    out_.arrived.notify_all();
    return true;
}

void MemoryLine::End::WaitForInput(int timeoutMs)
{
    std::unique_lock lock(in_.mutex);
    in_.arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !in_.bytes.empty(); });
}

} // namespace quillon
