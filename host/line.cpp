#include "host/line.h"

#include <utility>

#include "link/fault_port.h"
#include "link/paced_port.h"
#include "link/switched_port.h"
#include "serial/memory_line.h"
#include "serial/port_setup.h"
#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "trace/recording.h"
#include "trace/replay_port.h"

namespace quillon {

namespace {

void Tell(const std::function<void(const std::string&)>& log, const std::string& line)
{
    if (log) {
        log(line);
    }
}

bool OnVirtualPort(const LineDescription& described)
{
    return described.kind == LineDescription::Kind::Virtual ||
           (described.kind == LineDescription::Kind::Demo && described.demoOnVirtualPort);
}

} // namespace

std::string CheckLineOptions(int links, const LineDescription& described, bool reconnect, bool spawn)
{
    if (links > 1) {
        return "give only one of --port, --virtual-port, --demo, --replay, --tcp-connect, --tcp-listen";
    }
    if (reconnect && described.kind != LineDescription::Kind::Serial) {
        return "--reconnect opens a --port again after it hangs up; the other links have no such path";
    }
    if (spawn && (described.kind == LineDescription::Kind::Demo || described.kind == LineDescription::Kind::Replay)) {
        return "--spawn starts a device for --port, --virtual-port, --tcp-connect or --tcp-listen; --demo and "
               "--replay have theirs";
    }
    if (described.lineRate != 0 && described.kind == LineDescription::Kind::Replay) {
        return "--line-rate does not go with --replay: a recording is played at the times it was recorded with";
    }
    return {};
}

Line::Line(Clock& clock) : clock_(clock), serial_(std::make_unique<SerialPort>())
{
}

Line::~Line()
{
    StopDemo();
}

std::string Line::Open(const LineDescription& described, Log log)
{
    if (std::string error = OpenPort(described, log); !error.empty()) {
        return error;
    }
    Wrap(described, log);
    if (described.kind == LineDescription::Kind::Demo) {
        demo_ = std::make_unique<demo::DemoDeviceThread>(described.demo);
    }
    return {};
}

std::string Line::OpenPort(const LineDescription& described, const Log& log)
{
    switch (described.kind) {
    case LineDescription::Kind::Demo:
        if (!described.demoOnVirtualPort) {
            memoryLine_ = std::make_unique<MemoryLine>();
            runLine_ = &memoryLine_->panelEnd();
            return {};
        }
        return OpenSerial(described);
    case LineDescription::Kind::Replay:
        return OpenReplay(described);
    case LineDescription::Kind::TcpConnect:
    case LineDescription::Kind::TcpListen:
        return OpenTcp(described, log);
    case LineDescription::Kind::Serial:
    case LineDescription::Kind::Virtual:
        break;
    }
    return OpenSerial(described);
}

std::string Line::OpenTcp(const LineDescription& described, const Log& log)
{
    const bool listen = described.kind == LineDescription::Kind::TcpListen;
    tcp_ = std::make_unique<TcpPort>();
    // Told on the reader thread as devices come and go.
    tcp_->SetLog(log.progress);
    if (std::string error = listen ? tcp_->Listen(described.tcp) : tcp_->Connect(described.tcp); !error.empty()) {
        return error;
    }
    portForDevice_ = std::to_string(listen ? tcp_->LocalPort() : described.tcp.port);
    if (listen) {
        Tell(log.progress, "waiting for the device on " + described.tcp.host + ":" + portForDevice_);
    }
    runLine_ = tcp_.get();
    return {};
}

std::string Line::OpenReplay(const LineDescription& described)
{
    Recording recording = ReadRecordingFile(described.path);
    if (recording.problem) {
        return DescribeProblem(described.path, *recording.problem);
    }
    if (!recording.chunks.empty()) {
        replayLengthMs_ =
            static_cast<std::uint64_t>(static_cast<double>(recording.chunks.back().timeUs) / 1000.0 / described.speed);
    }
    replay_ = std::make_unique<ReplayPort>(std::move(recording.chunks), clock_, described.speed);
    runLine_ = replay_.get();
    return {};
}

std::string Line::OpenSerial(const LineDescription& described)
{
    if (OnVirtualPort(described)) {
        virtualPort_ = std::make_unique<VirtualPort>();
        if (!virtualPort_->Create(described.kind == LineDescription::Kind::Virtual ? described.path : std::string())) {
            return "cannot make the virtual port" +
                   std::string(described.kind == LineDescription::Kind::Demo ? " for the demo" : "") + ": " +
                   virtualPort_->ErrorText();
        }
        portForDevice_ = virtualPort_->PathForDevice();
    } else {
        portForDevice_ = described.path;
    }
    if (described.frontEndOpensSerial) {
        return {};
    }
    const int failedStep =
        virtualPort_ ? serial_->OpenVirtualPort(*virtualPort_) : serial_->OpenCommPort(described.path);
    if (failedStep != 0) {
        return PortFailure(virtualPort_ ? virtualPort_->DevicePath() : described.path, failedStep,
                           serial_->lastOpenError());
    }
    return {};
}

// The port paced when asked on a line that carries bytes at the host's speed:
// TCP, the in-process line, a pseudo-terminal. A serial device paces in its
// hardware; pacing it again would add a byte time each way. The faults go
// over it all, asked for now or later.
void Line::Wrap(const LineDescription& described, const Log& log)
{
    switched_ = std::make_unique<SwitchedPort>();
    switched_->Use(runLine_ != nullptr ? runLine_ : static_cast<PanelPort*>(serial_.get()));
    PanelPort* port = switched_.get();
    if (described.lineRate != 0 && described.kind == LineDescription::Kind::Serial) {
        Tell(log.warning, "--line-rate leaves " +
                              (described.path.empty() ? std::string("the serial port") : described.path) +
                              " as it is: a serial device paces the line in its hardware");
    } else if (described.lineRate != 0) {
        paced_ = std::make_unique<PacedPort>(*port, clock_, described.lineRate);
        paced_->Start();
        port = paced_.get();
    }
    faults_ = std::make_unique<FaultPort>(*port, clock_);
    faults_->SetSeed(described.faultSeed.value_or(NewFaultSeed()));
    if (!described.faultSeed && DrawsAtRandom(described.faults)) {
        const std::string seed = std::to_string(faults_->seed());
        Tell(log.warning, "faults at random with seed " + seed + "; --fault-seed " + seed + " repeats them");
    }
    for (const FaultRule& rule : described.faults) {
        faults_->Add(rule);
    }
    faults_->Start();
}

PanelPort& Line::panelEnd()
{
    return *faults_;
}

FaultPort& Line::faults()
{
    return *faults_;
}

bool Line::replayFinished() const
{
    return replay_ != nullptr && replay_->finished();
}

std::uint64_t Line::faultSeed() const
{
    return faults_->seed();
}

void Line::Use(PanelPort* port)
{
    switched_->Use(port);
}

std::string Line::StartDemo()
{
    if (!demo_) {
        return {};
    }
    if (memoryLine_) {
        demo_->Start(memoryLine_->deviceEnd());
        return {};
    }
    const int failedStep = demo_->Start(virtualPort_->DevicePath());
    // Read at once, before any other call can change it: the reason belongs
    // to the failed set-up step.
    const int reason = failedStep != 0 ? LastSystemErrorCode() : 0;
    return failedStep == 0 ? std::string()
                           : "the demo device " + PortFailure(virtualPort_->DevicePath(), failedStep, reason);
}

void Line::StopDemo()
{
    if (demo_) {
        demo_->Stop();
    }
}

} // namespace quillon
