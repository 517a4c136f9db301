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

bool OnVirtualPort(const LineSpec& spec)
{
    return spec.kind == LineSpec::Kind::Virtual || (spec.kind == LineSpec::Kind::Demo && spec.demoOnVirtualPort);
}

} // namespace

std::string CheckLineOptions(int links, const LineSpec& spec, bool reconnect, bool spawn)
{
    if (links > 1) {
        return "give only one of --port, --virtual-port, --demo, --replay, --tcp-connect, --tcp-listen";
    }
    if (reconnect && spec.kind != LineSpec::Kind::Serial) {
        return "--reconnect opens a --port again after it hangs up; the other links have no such path";
    }
    if (spawn && (spec.kind == LineSpec::Kind::Demo || spec.kind == LineSpec::Kind::Replay)) {
        return "--spawn starts a device for --port, --virtual-port, --tcp-connect or --tcp-listen; --demo and "
               "--replay have theirs";
    }
    if (spec.lineRate != 0 && spec.kind == LineSpec::Kind::Replay) {
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

std::string Line::Open(const LineSpec& spec, Log log)
{
    if (std::string error = OpenPort(spec, log); !error.empty()) {
        return error;
    }
    Wrap(spec, log);
    if (spec.kind == LineSpec::Kind::Demo) {
        demo_ = std::make_unique<demo::DemoDeviceThread>(spec.demo);
    }
    return {};
}

std::string Line::OpenPort(const LineSpec& spec, const Log& log)
{
    switch (spec.kind) {
    case LineSpec::Kind::Demo:
        if (!spec.demoOnVirtualPort) {
            memoryLine_ = std::make_unique<MemoryLine>();
            runLine_ = &memoryLine_->panelEnd();
            return {};
        }
        return OpenSerial(spec);
    case LineSpec::Kind::Replay:
        return OpenReplay(spec);
    case LineSpec::Kind::TcpConnect:
    case LineSpec::Kind::TcpListen:
        return OpenTcp(spec, log);
    case LineSpec::Kind::Serial:
    case LineSpec::Kind::Virtual:
        break;
    }
    return OpenSerial(spec);
}

std::string Line::OpenTcp(const LineSpec& spec, const Log& log)
{
    const bool listen = spec.kind == LineSpec::Kind::TcpListen;
    tcp_ = std::make_unique<TcpPort>();
    // Told on the reader thread as devices come and go.
    tcp_->SetLog(log.progress);
    if (std::string error = listen ? tcp_->Listen(spec.tcp) : tcp_->Connect(spec.tcp); !error.empty()) {
        return error;
    }
    portForDevice_ = std::to_string(listen ? tcp_->LocalPort() : spec.tcp.port);
    if (listen) {
        Tell(log.progress, "waiting for the device on " + spec.tcp.host + ":" + portForDevice_);
    }
    runLine_ = tcp_.get();
    return {};
}

std::string Line::OpenReplay(const LineSpec& spec)
{
    Recording recording = ReadRecordingFile(spec.path);
    if (recording.problem) {
        return DescribeProblem(spec.path, *recording.problem);
    }
    if (!recording.chunks.empty()) {
        replayLengthMs_ =
            static_cast<std::uint64_t>(static_cast<double>(recording.chunks.back().timeUs) / 1000.0 / spec.speed);
    }
    replay_ = std::make_unique<ReplayPort>(std::move(recording.chunks), clock_, spec.speed);
    runLine_ = replay_.get();
    return {};
}

std::string Line::OpenSerial(const LineSpec& spec)
{
    if (OnVirtualPort(spec)) {
        virtualPort_ = std::make_unique<VirtualPort>();
        if (!virtualPort_->Create(spec.kind == LineSpec::Kind::Virtual ? spec.path : std::string())) {
            return "cannot make the virtual port" +
                   std::string(spec.kind == LineSpec::Kind::Demo ? " for the demo" : "") + ": " +
                   virtualPort_->ErrorText();
        }
        portForDevice_ = virtualPort_->PathForDevice();
    } else {
        portForDevice_ = spec.path;
    }
    if (spec.frontEndOpensSerial) {
        return {};
    }
    const int failedStep = virtualPort_ ? serial_->OpenVirtualPort(*virtualPort_) : serial_->OpenCommPort(spec.path);
    if (failedStep != 0) {
        return PortFailure(virtualPort_ ? virtualPort_->DevicePath() : spec.path, failedStep, serial_->lastOpenError());
    }
    return {};
}

// The port paced when asked on a line that carries bytes at the host's speed:
// TCP, the in-process line, a pseudo-terminal. A serial device paces in its
// hardware; pacing it again would add a byte time each way. The faults go
// over it all, asked for now or later.
void Line::Wrap(const LineSpec& spec, const Log& log)
{
    switched_ = std::make_unique<SwitchedPort>();
    switched_->Use(runLine_ != nullptr ? runLine_ : static_cast<PanelPort*>(serial_.get()));
    PanelPort* port = switched_.get();
    if (spec.lineRate != 0 && spec.kind == LineSpec::Kind::Serial) {
        Tell(log.warning, "--line-rate leaves " + (spec.path.empty() ? std::string("the serial port") : spec.path) +
                              " as it is: a serial device paces the line in its hardware");
    } else if (spec.lineRate != 0) {
        paced_ = std::make_unique<PacedPort>(*port, clock_, spec.lineRate);
        paced_->Start();
        port = paced_.get();
    }
    faults_ = std::make_unique<FaultPort>(*port, clock_);
    faults_->SetSeed(spec.faultSeed.value_or(NewFaultSeed()));
    if (!spec.faultSeed && DrawsAtRandom(spec.faults)) {
        const std::string seed = std::to_string(faults_->seed());
        Tell(log.warning, "faults at random with seed " + seed + "; --fault-seed " + seed + " repeats them");
    }
    for (const FaultRule& rule : spec.faults) {
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
