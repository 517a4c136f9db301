#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "demo/demo_device.h"
#include "link/engine_interfaces.h"
#include "link/fault_rules.h"
#include "serial/tcp_port.h"

namespace quillon {

// A replay counts as played this long after its last byte was read, so the
// last block has been answered and shown.
inline constexpr std::chrono::milliseconds kReplayTail{200};

class FaultPort;
class MemoryLine;
class PacedPort;
class ReplayPort;
class SerialPort;
class SwitchedPort;
class VirtualPort;

// The line to the device as a front end's command line describes it.
struct LineDescription {
    enum class Kind { Serial, Virtual, TcpConnect, TcpListen, Demo, Replay };

    Kind kind = Kind::Serial;
    // The serial device, where the virtual port's symbolic link goes (none
    // when empty), or the recording to play.
    std::string path;
    TcpAddress tcp;
    // How much faster than recorded a replay plays.
    double speed = 1.0;
    demo::DemoOptions demo;
    // The demo device on a pseudo-terminal that the panel opens as it opens a
    // serial device, rather than on an in-process line: the desktop's timing.
    bool demoOnVirtualPort = false;
    // The front end opens the serial device or the virtual port itself (the
    // desktop's window, which tells a failure its own way); otherwise Open
    // does.
    bool frontEndOpensSerial = false;
    // Pacing as a cable at this baud rate; 0 for none.
    std::uint32_t lineRate = 0;
    std::vector<FaultRule> faults;
    // The seed of the faults drawn at random; a new one each run unless given.
    std::optional<std::uint64_t> faultSeed;
};

// Checks what the options of a line say together, as both programs take them:
// empty when they go together, otherwise why not. links is how many kinds of
// line were given.
std::string CheckLineOptions(int links, const LineDescription& described, bool reconnect, bool spawn);

// The line to the device, built from its description: the port (a serial
// device, a virtual port, TCP, the demo device's line, a recording), the
// pacing and the faults over it. It owns every part it made; the panel talks
// to panelEnd() only. The serial port is there on every kind of line, so a
// front end can change to it while the link is paused (Use), and back.
class Line {
public:
    // What the line tells as it goes: progress (a device connected, a port
    // made) and warnings (an option left without effect, the faults' seed).
    struct Log {
        std::function<void(const std::string&)> progress;
        std::function<void(const std::string&)> warning;
    };

    explicit Line(Clock& clock);
    // The demo device is stopped first, while its line still exists.
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Makes the line; empty when it is up, otherwise why not.
    std::string Open(const LineDescription& described, Log log);

    // The panel's end, with the pacing and the faults.
    PanelPort& panelEnd();
    FaultPort& faults();
    std::uint64_t faultSeed() const;
    // What {port} stands for in the device's command: the device path of a
    // serial or virtual port, the TCP port number.
    const std::string& portForDevice() const { return portForDevice_; }

    SerialPort& serial() { return *serial_; }
    // The virtual port made for this run, or null.
    const VirtualPort* virtualPort() const { return virtualPort_.get(); }
    // The run's own line when it is not a serial port (TCP, a recording, the
    // demo's in-process line), or null.
    PanelPort* runLine() { return runLine_; }
    // Makes port (the run's line, the serial port, or none) the one beneath
    // the pacing and the faults.
    void Use(PanelPort* port);
    // Whether the line is a recording played back, and played to its end.
    bool replaying() const { return replay_ != nullptr; }
    bool replayFinished() const;
    // How long the recording takes to play, in milliseconds at its speed.
    std::uint64_t replayLengthMs() const { return replayLengthMs_; }
    TcpPort* tcp() { return tcp_.get(); }

    // Starts the demo device on its end of the line, once the panel listens:
    // empty, or why it could not.
    std::string StartDemo();
    void StopDemo();
    // The demo device, or null on another kind of line.
    const demo::DemoDeviceThread* demo() const { return demo_.get(); }

private:
    std::string OpenPort(const LineDescription& described, const Log& log);
    std::string OpenTcp(const LineDescription& described, const Log& log);
    std::string OpenReplay(const LineDescription& described);
    std::string OpenSerial(const LineDescription& described);
    void Wrap(const LineDescription& described, const Log& log);

    Clock& clock_;
    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<VirtualPort> virtualPort_;
    std::unique_ptr<TcpPort> tcp_;
    std::unique_ptr<ReplayPort> replay_;
    std::unique_ptr<MemoryLine> memoryLine_;
    std::uint64_t replayLengthMs_ = 0;
    PanelPort* runLine_ = nullptr;
    std::string portForDevice_;
    std::unique_ptr<SwitchedPort> switched_;
    std::unique_ptr<PacedPort> paced_;
    std::unique_ptr<FaultPort> faults_;
    // Declared last: stopped and joined before the line it drives goes.
    std::unique_ptr<demo::DemoDeviceThread> demo_;
};

} // namespace quillon
