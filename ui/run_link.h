#pragma once

#include "host/line.h"
#include "ui/port_control.h"

namespace quillon {

// The port control of a run whose device is not on a serial line: a
// recording played back, a device on a TCP socket, the demo's in-process
// line. The run's line is named to the main window as the run's virtual
// port, so the link starts on it, and the Comms Port dialog can switch to a
// serial port and back, under the same pacing and faults.
class RunLinkControl final : public PortControl {
public:
    // line outlives the control; target is how its own line is named.
    RunLinkControl(Line& line, PortTarget target);

    PanelPort& Port() override { return line_.panelEnd(); }
    int Open(const PortTarget& target) override;
    void Close() override;
    // The run's line always opens; only a serial port can fail.
    int lastOpenError() const override { return serial_.lastOpenError(); }

private:
    Line& line_;
    const PortTarget target_;
    SerialPortControl serial_;
};

} // namespace quillon
