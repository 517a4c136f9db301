#include "ui/run_link.h"

#include <chrono>
#include <thread>
#include <utility>

namespace quillon {

RunLinkControl::RunLinkControl(PanelPort& line, PortTarget target, SerialPort& serial)
    : line_(line), target_(std::move(target)), serial_(serial, nullptr)
{
}

int RunLinkControl::Open(const PortTarget& target)
{
    serial_.Close();
    if (target == target_) {
        port_.Use(&line_);
        return 0;
    }
    port_.Use(&serial_.Port());
    return serial_.Open(target);
}

void RunLinkControl::Close()
{
    port_.Use(nullptr);
    serial_.Close();
}

bool RunLinkControl::SwitchedPort::BytesWaiting(std::size_t& count)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->BytesWaiting(count);
}

bool RunLinkControl::SwitchedPort::ReadByte(std::uint8_t& byte)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->ReadByte(byte);
}

bool RunLinkControl::SwitchedPort::Write(const std::uint8_t* data, std::size_t length)
{
    PanelPort* port = active_.load();
    return port != nullptr && port->Write(data, length);
}

void RunLinkControl::SwitchedPort::WaitForInput(int timeoutMs)
{
    if (PanelPort* port = active_.load()) {
        port->WaitForInput(timeoutMs);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    }
}

bool RunLinkControl::SwitchedPort::LineEnded() const
{
    const PanelPort* port = active_.load();
    return port != nullptr && port->LineEnded();
}

} // namespace quillon
