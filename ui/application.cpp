#include "ui/application.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPainter>
#include <QTimer>

#include "link/fault_port.h"
#include "link/paced_port.h"
#include "serial/port_reconnect.h"
#include "serial/serial_port.h"
#include "serial/tcp_port.h"
#include "serial/virtual_port.h"
#include "trace/recording.h"
#include "trace/replay_port.h"
#include "ui/command_line.h"
#include "ui/command_socket.h"
#include "ui/demo_mode.h"
#include "ui/link_taps.h"
#include "ui/message_sink.h"
#include "ui/option_error.h"
#include "ui/panel_widget.h"
#include "ui/port_control.h"
#include "ui/protocol_monitor.h"
#include "ui/run_link.h"
#include "ui/version.h"

namespace quillon {

namespace {

constexpr int kSendTimeoutMs = 3000;
// How often a hung-up line is looked for with --reconnect; the tries to open
// it again keep their own second.
constexpr int kReconnectCheckMs = 50;
// A demo run's screenshot waits for the device's first screen at most this
// much longer than asked (a replay's for its end, this much longer than the
// recording lasts), and is taken then whatever the display shows.
constexpr int kDemoScreenWaitMs = 10000;
constexpr int kDemoScreenCheckMs = 100;
// A replay counts as played this long after its last byte was read, so the
// last block has been answered and shown.
constexpr int kReplayTailMs = 200;
// Exit status of a run refused before its window opens: a file that cannot
// be written or a recording that cannot be played.
constexpr int kBadInputStatus = 2;

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Where the run's messages go: standard output, unless the trace is written
// there, which then carries the trace alone.
std::FILE* MessageStream(const CommandLine& commandLine)
{
    return commandLine.tracePath == QStringLiteral("-") ? stderr : stdout;
}

// Creating the application object without any display to talk to would
// abort the program; tell the user instead. A Windows session always has its
// desktop.
bool HasDisplay()
{
#ifdef Q_OS_WIN
    return true;
#else
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#endif
}

// The toolkit ends the process when the display named in the environment
// cannot be reached, after several lines about plugins. While the application
// object starts, its messages are held back; if it gives up, the user gets
// one line naming the reason instead, and otherwise the held messages go out
// as usual.
class DisplayStartGuard {
public:
    DisplayStartGuard()
    {
        held_.clear();
        previous_ = qInstallMessageHandler(&DisplayStartGuard::Hold);
    }
    ~DisplayStartGuard()
    {
        qInstallMessageHandler(previous_);
        for (const Held& message : held_) {
            previous_(message.type, QMessageLogContext(), message.text);
        }
    }
    DisplayStartGuard(const DisplayStartGuard&) = delete;
    DisplayStartGuard& operator=(const DisplayStartGuard&) = delete;

private:
    struct Held {
        QtMsgType type;
        QString text;
    };

    static void Hold(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type != QtFatalMsg) {
            held_.push_back({type, text});
            return;
        }
        const QString reason = held_.empty() ? text : held_.front().text;
        Print(stderr, QStringLiteral("quillon: cannot open a window on the display (%1)\n").arg(reason));
        std::_Exit(1);
    }

    static inline QtMessageHandler previous_ = nullptr;
    static inline std::vector<Held> held_;
};

// The picture of the window for --screenshot, with the protocol monitor
// beside it when that is open: taken once the delay has passed and the run
// is ready (a demo device has drawn its first screen, a replay has been
// played), or the run is far too late with it; then the event loop ends,
// with 1 when the file could not be written.
class Screenshot {
public:
    // ready tells whether the run has something to show, waitingFor what
    // it waits for, and waitLimitMs how long after the delay it waits; row
    // is the monitor's row to select first, or 0.
    Screenshot(MainWindow& window, ProtocolMonitor& monitor, QString path, int delayMs, std::function<bool()> ready,
               QString waitingFor, qint64 waitLimitMs, qulonglong row, std::FILE* messages)
        : window_(window), monitor_(monitor), path_(std::move(path)), ready_(std::move(ready)),
          waitingFor_(std::move(waitingFor)), waitLimitMs_(waitLimitMs), row_(row), messages_(messages)
    {
        QObject::connect(&check_, &QTimer::timeout, &window_, [this] { Check(); });
        QTimer::singleShot(delayMs, &window_, [this] {
            wait_.start();
            check_.start(kDemoScreenCheckMs);
            Check();
        });
    }

private:
    void Check()
    {
        const bool ready = !ready_ || ready_();
        if (!ready && !wait_.hasExpired(waitLimitMs_)) {
            return;
        }
        if (!ready) {
            Print(stderr, QStringLiteral("quillon: %1\n").arg(waitingFor_));
        }
        check_.stop();
        if (row_ != 0 && !monitor_.SelectRow(row_)) {
            Print(stderr, QStringLiteral("quillon: the monitor has no row %1\n").arg(row_));
        }
        const bool saved = Picture().save(path_);
        if (saved) {
            Print(messages_, QStringLiteral("quillon: screenshot saved to %1\n")
                                 .arg(QDir::toNativeSeparators(QFileInfo(path_).absoluteFilePath())));
        } else {
            Print(stderr, QStringLiteral("quillon: cannot save %1\n").arg(path_));
        }
        QCoreApplication::exit(saved ? 0 : 1);
    }

    // The window alone, or the window and the monitor side by side, their
    // tops level, the way they stand on the screen.
    QImage Picture()
    {
        const QImage panel = window_.grab().toImage();
        if (!monitor_.isVisible()) {
            return panel;
        }
        const QImage rows = monitor_.grab().toImage();
        QImage both(panel.width() + rows.width(), std::max(panel.height(), rows.height()), QImage::Format_RGB32);
        both.fill(window_.palette().window().color());
        QPainter painter(&both);
        painter.drawImage(0, 0, panel);
        painter.drawImage(panel.width(), 0, rows);
        return both;
    }

    MainWindow& window_;
    ProtocolMonitor& monitor_;
    const QString path_;
    const std::function<bool()> ready_;
    const QString waitingFor_;
    const qint64 waitLimitMs_;
    const qulonglong row_;
    std::FILE* const messages_;
    QTimer check_;
    QElapsedTimer wait_;
};

int SendCommandToRunningProgram(int argc, char** argv, int id)
{
    QCoreApplication application(argc, argv);
    switch (SendCommand(CommandSocketPath(), id, kSendTimeoutMs)) {
    case SendResult::Delivered:
        return 0;
    case SendResult::NotRunning:
        Print(stderr, QStringLiteral("quillon: no running Quillon of this user to send command %1 to\n").arg(id));
        return 1;
    case SendResult::Unknown:
        Print(stderr, QStringLiteral("quillon: the running Quillon has no command %1\n").arg(id));
        return 1;
    }
    return 1;
}

// The port named for this run on the command line, used instead of the
// stored one: a device path, a virtual port, the demo's virtual port with the
// demo device on its far end, a recording played back, or a device on a TCP
// socket.
class RunPort {
public:
    // Makes what the command line asks for; 0, or the exit status with the
    // reason printed when it cannot be made.
    int Make(const CommandLine& commandLine, Clock& clock)
    {
        messages_ = MessageStream(commandLine);
        if (commandLine.demo) {
            demo::DemoOptions options;
            // The device reports from its own thread, as it goes.
            options.log = [messages = messages_](const std::string& line) {
                Print(messages, QStringLiteral("demo device: %1\n").arg(QString::fromStdString(line)));
            };
            demo_.emplace(std::move(options));
            if (!demo_->CreatePort()) {
                return Fail(QStringLiteral("cannot make the virtual port for the demo: %1").arg(demo_->ErrorText()));
            }
            target_ = demo_->Target();
            line_ = demo_->line();
        } else if (commandLine.virtualPort) {
            if (!virtualPort_.Create(QFile::encodeName(commandLine.virtualLink).toStdString())) {
                return Fail(QStringLiteral("cannot make the virtual port: %1")
                                .arg(QString::fromStdString(virtualPort_.ErrorText())));
            }
            const QString path = QFile::decodeName(virtualPort_.PathForDevice().c_str());
            Print(stdout, path + QLatin1Char('\n'));
            target_ = PortTarget::Virtual(path);
        } else if (!commandLine.portPath.isEmpty()) {
            target_ = PortTarget::Device(commandLine.portPath);
        } else if (!commandLine.replayPath.isEmpty()) {
            return MakeReplay(commandLine, clock);
        } else if (commandLine.tcpAddress) {
            return MakeTcp(*commandLine.tcpAddress, commandLine.tcpListen);
        }
        return 0;
    }

    // Started once the panel listens, so the device's first block is
    // answered at once rather than after its reply time-out.
    bool StartDemo(MainWindow& window)
    {
        if (!demo_) {
            return true;
        }
        if (demo_->Start(window) != 0) {
            Fail(demo_->ErrorText());
            return false;
        }
        Print(messages_,
              QStringLiteral("quillon: the demo device drives the panel on %1; close the window to end both\n")
                  .arg(demo_->Target().path));
        return true;
    }

    void StopDemo()
    {
        if (demo_) {
            demo_->Stop();
        }
    }

    const std::optional<PortTarget>& target() const { return target_; }
    const VirtualPort* virtualPort() const
    {
        if (demo_) {
            return demo_->virtualPort();
        }
        return target_ && target_->kind == PortTarget::Kind::Virtual && line_ == nullptr ? &virtualPort_ : nullptr;
    }
    const DemoMode* demo() const { return demo_ ? &*demo_ : nullptr; }
    // The run's line when it is not a serial port: the replay, TCP or the
    // demo's in-process line.
    PanelPort* line() const { return line_; }
    const ReplayPort* replay() const { return replay_ ? &*replay_ : nullptr; }
    // How long the replay lasts at its speed.
    qint64 replayLengthMs() const { return replayLengthMs_; }

private:
    static int Fail(const QString& reason)
    {
        Print(stderr, QStringLiteral("quillon: %1\n").arg(reason));
        return 1;
    }

    int MakeReplay(const CommandLine& commandLine, Clock& clock)
    {
        const std::string path = QFile::encodeName(commandLine.replayPath).toStdString();
        Recording recording = ReadRecordingFile(path);
        if (recording.problem) {
            Print(stderr, QStringLiteral("quillon: %1; nothing was played\n")
                              .arg(QString::fromStdString(DescribeProblem(path, *recording.problem))));
            return kBadInputStatus;
        }
        if (!recording.chunks.empty()) {
            replayLengthMs_ = static_cast<qint64>(static_cast<double>(recording.chunks.back().timeUs) / 1000.0 /
                                                  commandLine.replaySpeed);
        }
        replay_.emplace(std::move(recording.chunks), clock, commandLine.replaySpeed);
        line_ = &*replay_;
        target_ = PortTarget::Virtual(QStringLiteral("recording %1").arg(commandLine.replayPath));
        return 0;
    }

    int MakeTcp(const TcpAddress& address, bool listen)
    {
        // Told on the reader thread as devices come and go.
        tcp_.SetLog([messages = messages_](const std::string& line) {
            Print(messages, QStringLiteral("quillon: %1\n").arg(QString::fromStdString(line)));
        });
        const std::string error = listen ? tcp_.Listen(address) : tcp_.Connect(address);
        if (!error.empty()) {
            return Fail(QString::fromStdString(error));
        }
        const QString where = QStringLiteral("%1:%2")
                                  .arg(QString::fromStdString(address.host))
                                  .arg(listen ? tcp_.LocalPort() : address.port);
        if (listen) {
            Print(messages_, QStringLiteral("quillon: waiting for the device on %1\n").arg(where));
        }
        line_ = &tcp_;
        target_ = PortTarget::Virtual(QStringLiteral("TCP %1").arg(where));
        return 0;
    }

    VirtualPort virtualPort_;
    std::optional<DemoMode> demo_;
    std::optional<ReplayPort> replay_;
    qint64 replayLengthMs_ = 0;
    TcpPort tcp_;
    PanelPort* line_ = nullptr;
    std::optional<PortTarget> target_;
    std::FILE* messages_ = stdout;
};

// Tells once when a replay has been played to its end and answered.
class ReplayEnd : public QObject {
public:
    ReplayEnd(const ReplayPort& replay, QString path, std::FILE* messages)
        : replay_(replay), path_(std::move(path)), messages_(messages)
    {
        connect(&check_, &QTimer::timeout, this, [this] {
            if (!replay_.finished()) {
                return;
            }
            if (!finishedAt_.isValid()) {
                finishedAt_.start();
            } else if (finishedAt_.hasExpired(kReplayTailMs)) {
                check_.stop();
                played_ = true;
                Print(messages_, QStringLiteral("quillon: %1 has been played to its end\n").arg(path_));
            }
        });
        check_.start(kDemoScreenCheckMs);
    }

    bool played() const { return played_; }

private:
    const ReplayPort& replay_;
    const QString path_;
    std::FILE* const messages_;
    QTimer check_;
    QElapsedTimer finishedAt_;
    bool played_ = false;
};

// Opens the trace and the recording the command line asks for; false, with
// the reason printed, when one cannot be written.
bool OpenFiles(const CommandLine& commandLine, LinkTaps& taps)
{
    std::string error;
    if (!commandLine.tracePath.isEmpty() &&
        !taps.OpenTrace(QFile::encodeName(commandLine.tracePath).toStdString(),
                        commandLine.traceJson ? TraceFormat::JsonLines : TraceFormat::Text, error)) {
        Print(stderr, QStringLiteral("quillon: --trace: %1\n").arg(QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    if (!commandLine.recordPath.isEmpty() &&
        !taps.OpenRecording(QFile::encodeName(commandLine.recordPath).toStdString(), error)) {
        Print(stderr, QStringLiteral("quillon: --record: %1\n").arg(QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    return true;
}

// The window over the port, until it is closed.
int RunWindow(int argc, char** argv, const CommandLine& commandLine)
{
    SteadyClock clock;
    RunPort runPort;
    if (const int status = runPort.Make(commandLine, clock); status != 0) {
        return status;
    }
    SerialPort serialPort;
    std::optional<SerialPortControl> serialControl;
    std::optional<RunLinkControl> lineControl;
    PortControl* portControl = nullptr;
    if (runPort.line() != nullptr) {
        portControl = &lineControl.emplace(*runPort.line(), *runPort.target(), serialPort);
    } else {
        portControl = &serialControl.emplace(serialPort, runPort.virtualPort());
    }
    // The line paced as a cable when asked, unless it is a serial device,
    // whose hardware paces already.
    std::optional<PacedPort> paced;
    const bool hostSpeedLine = commandLine.tcpAddress || commandLine.demo || commandLine.virtualPort;
    if (commandLine.lineRate != 0 && hostSpeedLine) {
        paced.emplace(portControl->Port(), clock, commandLine.lineRate);
        paced->Start();
    } else if (commandLine.lineRate != 0) {
        Print(stderr, QStringLiteral("quillon: --line-rate leaves the serial port as it is: a serial device paces "
                                     "the line in its hardware\n"));
    }
    PanelPort* linePort = paced ? static_cast<PanelPort*>(&*paced) : &portControl->Port();
    // Faults injected on purpose, on the line as it reaches the panel.
    std::optional<FaultPort> faults;
    if (!commandLine.faults.empty()) {
        faults.emplace(*linePort, clock);
        faults->SetSeed(commandLine.faultSeed.value_or(NewFaultSeed()));
        if (!commandLine.faultSeed && DrawsAtRandom(commandLine.faults)) {
            Print(stderr, QStringLiteral("quillon: faults at random with seed %1; --fault-seed %1 repeats them\n")
                              .arg(faults->seed()));
        }
        for (const FaultRule& rule : commandLine.faults) {
            faults->Add(rule);
        }
        faults->Start();
        linePort = &*faults;
    }
    PanelEngine engine(*linePort, clock);
    if (faults) {
        faults->SetSink(&engine.lineEvents());
    }
    engine.SetReplyOnTick(commandLine.replyOnTick);
    // A screenshot run never waits for a click: its messages go to standard
    // error.
    MessageBoxSink messageBoxes;
    StreamSink errorStream(stderr);
    MessageSink& messages =
        commandLine.screenshotPath.isEmpty() ? static_cast<MessageSink&>(messageBoxes) : errorStream;

    std::optional<DisplayStartGuard> guard(std::in_place);
    Application application(argc, argv);
    guard.reset();
    LinkTaps taps(clock);
    if (!OpenFiles(commandLine, taps)) {
        return kBadInputStatus;
    }
    taps.Attach(engine);
    if (serialControl) {
        serialControl->SetTell(
            [&engine](PortChange change, int failedStep) { engine.TellPortChange(change, failedStep); });
    }
    // A serial line that hangs up is opened again, looked at on the thread
    // that ticks the engine.
    std::optional<PortReconnect> reconnect;
    QTimer reconnectTimer;
    if (commandLine.reconnect && serialControl) {
        reconnect.emplace(
            serialPort, [&serialControl] { return serialControl->reopenPath(); },
            [&engine](PortChange change) { engine.TellPortChange(change); });
        QObject::connect(&reconnectTimer, &QTimer::timeout, [&reconnect] { reconnect->Check(); });
        reconnectTimer.start(kReconnectCheckMs);
    }
    const std::unique_ptr<MainWindow> window =
        application.ShowMainWindow(WindowContext{engine, *portControl, messages, runPort.target()});
    ProtocolMonitor monitor(taps.log(), engine.display());
    monitor.Attach(*window);
    if (commandLine.monitor) {
        monitor.Open();
    }

    CommandServer commands(&MainWindow::IsCommand);
    commands.Listen(CommandSocketPath());
    // Queued, so a command that opens a modal dialog runs after its sender
    // has been answered.
    QObject::connect(&commands, &CommandServer::commandReceived, window.get(), &MainWindow::OnCommand,
                     Qt::QueuedConnection);
    if (!runPort.StartDemo(*window)) {
        return 1;
    }
    std::optional<ReplayEnd> replayEnd;
    if (runPort.replay() != nullptr) {
        replayEnd.emplace(*runPort.replay(), commandLine.replayPath, MessageStream(commandLine));
    }
    std::optional<Screenshot> screenshot;
    if (!commandLine.screenshotPath.isEmpty()) {
        std::function<bool()> ready;
        QString waitingFor;
        qint64 waitLimitMs = kDemoScreenWaitMs;
        if (const DemoMode* demo = runPort.demo()) {
            ready = [demo] { return demo->Status().shown.has_value(); };
            waitingFor = QStringLiteral("the demo device has not drawn a screen yet");
        } else if (replayEnd) {
            ready = [&replayEnd] { return replayEnd->played(); };
            waitingFor = QStringLiteral("the recording has not been played to its end yet");
            waitLimitMs += runPort.replayLengthMs();
        }
        screenshot.emplace(*window, monitor, commandLine.screenshotPath, commandLine.screenshotDelayMs,
                           std::move(ready), waitingFor, waitLimitMs, commandLine.screenshotRow,
                           MessageStream(commandLine));
    }
    const int status = application.exec();
    runPort.StopDemo();
    return status;
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Ostrel"));
    setApplicationName(QStringLiteral("Quillon"));
    setApplicationVersion(VersionNumber());
    setDesktopFileName(QStringLiteral("quillon"));
    setWindowIcon(QIcon(QStringLiteral(":/quillon.png")));
}

std::unique_ptr<MainWindow> Application::ShowMainWindow(const WindowContext& context)
{
    auto window = std::make_unique<MainWindow>(context);
    window->panel()->StartLink();
    window->move(0, 0);
    window->show();
    window->raise();
    return window;
}

int RunQuillon(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine commandLine = ParseCommandLine(arguments);
    switch (commandLine.action) {
    case CommandLine::Action::Error:
        return TellBadOption(argc, argv, commandLine.error);
    case CommandLine::Action::Help:
        Print(stdout, HelpText());
        return 0;
    case CommandLine::Action::Version:
        Print(stdout, VersionText());
        return 0;
    case CommandLine::Action::SendCommand:
        return SendCommandToRunningProgram(argc, argv, commandLine.commandId);
    case CommandLine::Action::Run:
        break;
    }
    if (!HasDisplay()) {
        Print(stderr, QStringLiteral("quillon: no display to show the panel on (neither DISPLAY nor WAYLAND_DISPLAY "
                                     "is set); start it in a desktop session or under xvfb-run%1\n")
                          .arg(commandLine.demo ? QStringLiteral(", with a screenshot to look at: xvfb-run -a "
                                                                 "quillon --demo --screenshot demo.png")
                                                : QString()));
        return 1;
    }
    return RunWindow(argc, argv, commandLine);
}

} // namespace quillon
