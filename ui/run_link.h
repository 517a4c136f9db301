#pragma once

#include <atomic>

#include "link/engine_interfaces.h"
#include "ui/port_control.h"

namespace quillon {

class SerialPort;

// The port control of a run whose device is not on a serial line: a
// recording played back, or a device on a TCP socket. The run's line is
// named to the main window as the run's virtual port, so the link starts on
// it, and the Comms Port dialog can switch to a serial port and back.
class RunLinkControl final : public PortControl {
public:
    // line and serial outlive the control; target is how the line is named.
    RunLinkControl(PanelPort& line, PortTarget target, SerialPort& serial);

    PanelPort& Port() override { return port_; }
    int Open(const PortTarget& target) override;
    void Close() override;
    // The run's line always opens; only a serial port can fail.
    int lastOpenError() const override { return serial_.lastOpenError(); }

private:
    // The engine's port: whichever of the two is open, or a silent line
    // when neither is.
    class SwitchedPort final : public PanelPort {
    public:
        void Use(PanelPort* port) { active_.store(port); }
        bool BytesWaiting(std::size_t& count) override;
        bool ReadByte(std::uint8_t& byte) override;
        bool Write(const std::uint8_t* data, std::size_t length) override;
        void WaitForInput(int timeoutMs) override;
        bool LineEnded() const override;

    private:
        std::atomic<PanelPort*> active_{nullptr};
    };

    PanelPort& line_;
    const PortTarget target_;
    SerialPortControl serial_;
    SwitchedPort port_;
};

} // namespace quillon
