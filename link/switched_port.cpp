#include "link/switched_port.h"

#include <chrono>
#include <thread>

namespace quillon {

bool SwitchedPort::BytesWaiting(std::size_t& count)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->BytesWaiting(count);
}

bool SwitchedPort::ReadByte(std::uint8_t& byte)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->ReadByte(byte);
}

bool SwitchedPort::Write(const std::uint8_t* data, std::size_t length)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->Write(data, length);
}

void SwitchedPort::WaitForInput(int timeoutMs)
{
    if (PanelPort* port = active_.load()) {
        port->WaitForInput(timeoutMs);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    }
}

std::uint32_t SwitchedPort::ReplyHoldMs()
{
    PanelPort* port = active_.load();
    return port != nullptr ? port->ReplyHoldMs() : 0;
}

bool SwitchedPort::LineEnded() const
{
    const PanelPort* port = active_.load();
    return port != nullptr && port->LineEnded();
}

} // namespace quillon
