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

#include "host/display_film.h"
#include "host/line.h"
#include "host/panel_host.h"
#include "serial/virtual_port.h"
#include "ui/command_line.h"
#include "ui/command_socket.h"
#include "ui/link_taps.h"
#include "ui/message_sink.h"
#include "ui/option_error.h"
#include "ui/panel_widget.h"
#include "ui/port_control.h"
#include "ui/protocol_monitor.h"
#include "ui/run_link.h"
#include "ui/run_services.h"
#include "ui/stop_signals.h"
#include "ui/version.h"

namespace quillon {

namespace {

constexpr int kSendTimeoutMs = 3000;
// A demo run's screenshot waits for the device's first screen at most this
// much longer than asked (a replay's for its end, this much longer than the
// recording lasts), and is taken then whatever the display shows.
constexpr int kDemoScreenWaitMs = 10000;
constexpr int kDemoScreenCheckMs = 100;
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

// The run's line as the command line describes it: a device path, a virtual
// port, the demo device on its own line, a recording played back, a device on
// a TCP socket, or the stored COM port, which the window opens.
class RunPort {
public:
    explicit RunPort(Clock& clock) : line_(clock) {}

    // Makes what the command line asks for; 0, or the exit status with the
    // reason printed when it cannot be made.
    int Make(const CommandLine& commandLine)
    {
        messages_ = MessageStream(commandLine);
        LineDescription described = Describe(commandLine);
        Line::Log log;
        // Told on the reader thread as devices come and go.
        log.progress = [messages = messages_](const std::string& line) {
            Print(messages, QStringLiteral("quillon: %1\n").arg(QString::fromStdString(line)));
        };
        log.warning = [](const std::string& line) {
            Print(stderr, QStringLiteral("quillon: %1\n").arg(QString::fromStdString(line)));
        };
        if (const std::string error = line_.Open(described, log); !error.empty()) {
            const bool replay = described.kind == LineDescription::Kind::Replay;
            Print(stderr,
                  QStringLiteral("quillon: %1%2\n")
                      .arg(QString::fromStdString(error), replay ? QStringLiteral("; nothing was played") : QString()));
            return replay ? kBadInputStatus : 1;
        }
        target_ = Target(commandLine, described);
        if (described.kind == LineDescription::Kind::Virtual) {
            Print(stdout, QFile::decodeName(line_.portForDevice().c_str()) + QLatin1Char('\n'));
        }
        return 0;
    }

    // Started once the panel listens, so the device's first block is
    // answered at once rather than after its reply time-out.
    bool StartDemo(MainWindow& window)
    {
        if (line_.demo() == nullptr) {
            return true;
        }
        if (const std::string error = line_.StartDemo(); !error.empty()) {
            Print(stderr, QStringLiteral("quillon: %1\n").arg(QString::fromStdString(error)));
            return false;
        }
        QObject::connect(&window, &MainWindow::closed, [this] { line_.StopDemo(); });
        Print(messages_,
              QStringLiteral("quillon: the demo device drives the panel on %1; close the window to end both\n")
                  .arg(target_->path));
        return true;
    }

    Line& line() { return line_; }
    const std::optional<PortTarget>& target() const { return target_; }

private:
    static LineDescription Describe(const CommandLine& commandLine)
    {
        LineDescription described;
        described.frontEndOpensSerial = true;
        described.lineRate = commandLine.lineRate;
        described.faults = commandLine.faults;
        described.faultSeed = commandLine.faultSeed;
        if (commandLine.demo) {
            described.kind = LineDescription::Kind::Demo;
            if (commandLine.demoBusy) {
                described.demo.pollIntervalMs = 0;
            }
#ifndef Q_OS_WIN
            described.demoOnVirtualPort = true;
#endif
            // The device reports from its own thread, as it goes.
            described.demo.log = [messages = MessageStream(commandLine)](const std::string& line) {
                Print(messages, QStringLiteral("demo device: %1\n").arg(QString::fromStdString(line)));
            };
        } else if (commandLine.virtualPort) {
            described.kind = LineDescription::Kind::Virtual;
            described.path = QFile::encodeName(commandLine.virtualLink).toStdString();
        } else if (!commandLine.replayPath.isEmpty()) {
            described.kind = LineDescription::Kind::Replay;
            described.path = QFile::encodeName(commandLine.replayPath).toStdString();
            described.speed = commandLine.replaySpeed;
        } else if (commandLine.tcpAddress) {
            described.kind =
                commandLine.tcpListen ? LineDescription::Kind::TcpListen : LineDescription::Kind::TcpConnect;
            described.tcp = *commandLine.tcpAddress;
        } else {
            described.path = QFile::encodeName(commandLine.portPath).toStdString();
        }
        return described;
    }

    std::optional<PortTarget> Target(const CommandLine& commandLine, const LineDescription& described)
    {
        switch (described.kind) {
        case LineDescription::Kind::Demo:
            return line_.virtualPort() != nullptr
                       ? PortTarget::Virtual(QFile::decodeName(line_.virtualPort()->DevicePath().c_str()))
                       : PortTarget::Virtual(QStringLiteral("an in-process line"));
        case LineDescription::Kind::Virtual:
            return PortTarget::Virtual(QFile::decodeName(line_.portForDevice().c_str()));
        case LineDescription::Kind::Replay:
            return PortTarget::Virtual(QStringLiteral("recording %1").arg(commandLine.replayPath));
        case LineDescription::Kind::TcpConnect:
        case LineDescription::Kind::TcpListen:
            return PortTarget::Virtual(
                QStringLiteral("TCP %1:%2")
                    .arg(QString::fromStdString(described.tcp.host), QString::fromStdString(line_.portForDevice())));
        case LineDescription::Kind::Serial:
            break;
        }
        if (commandLine.portPath.isEmpty()) {
            return std::nullopt;
        }
        return PortTarget::Device(commandLine.portPath);
    }

    Line line_;
    std::optional<PortTarget> target_;
    std::FILE* messages_ = stdout;
};

// Tells once when a replay has been played to its end and answered.
class ReplayEnd : public QObject {
public:
    ReplayEnd(const Line& line, QString path, std::FILE* messages)
        : line_(line), path_(std::move(path)), messages_(messages)
    {
        connect(&check_, &QTimer::timeout, this, [this] {
            if (!line_.replayFinished()) {
                return;
            }
            if (!finishedAt_.isValid()) {
                finishedAt_.start();
            } else if (finishedAt_.hasExpired(kReplayTail.count())) {
                check_.stop();
                played_ = true;
                Print(messages_, QStringLiteral("quillon: %1 has been played to its end\n").arg(path_));
            }
        });
        check_.start(kDemoScreenCheckMs);
    }

    bool played() const { return played_; }

private:
    const Line& line_;
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

// Opens the film of the display the command line asks for: nothing when it
// asks for none; false, with the reason printed, when it cannot be written.
bool OpenFilm(const CommandLine& commandLine, std::unique_ptr<DisplayFilm>& film, PanelHost& host)
{
    if (commandLine.recordDisplayPath.isEmpty()) {
        return true;
    }
    std::string error;
    film = std::make_unique<DisplayFilm>(host.engine().display());
    if (!film->Open(QFile::encodeName(commandLine.recordDisplayPath).toStdString(), host.clock().NowMicros(), error)) {
        Print(stderr, QStringLiteral("quillon: --record-display: %1\n").arg(QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    film->Follow(host, host.clock());
    return true;
}

// The port control the window opens the run's line through: the serial
// port, or the run's own line with the serial port to change to.
PortControl& MakePortControl(Line& line, const std::optional<PortTarget>& target,
                             std::optional<SerialPortControl>& serialControl,
                             std::optional<RunLinkControl>& lineControl)
{
    if (line.runLine() != nullptr) {
        return lineControl.emplace(line, *target);
    }
    return serialControl.emplace(line.serial(), line.virtualPort());
}

// The screenshot the command line asks for, once the run is ready for it.
void TakeScreenshot(const CommandLine& commandLine, MainWindow& window, ProtocolMonitor& monitor, RunPort& runPort,
                    const std::optional<ReplayEnd>& replayEnd, std::optional<Screenshot>& screenshot)
{
    if (commandLine.screenshotPath.isEmpty()) {
        return;
    }
    std::function<bool()> ready;
    QString waitingFor;
    qint64 waitLimitMs = kDemoScreenWaitMs;
    if (const demo::DemoDeviceThread* demo = runPort.line().demo()) {
        ready = [demo] { return demo->Status().shown.has_value(); };
        waitingFor = QStringLiteral("the demo device has not drawn a screen yet");
    } else if (replayEnd) {
        ready = [&replayEnd] { return replayEnd->played(); };
        waitingFor = QStringLiteral("the recording has not been played to its end yet");
        waitLimitMs += static_cast<qint64>(runPort.line().replayLengthMs());
    }
    screenshot.emplace(window, monitor, commandLine.screenshotPath, commandLine.screenshotDelayMs, std::move(ready),
                       waitingFor, waitLimitMs, commandLine.screenshotRow, MessageStream(commandLine));
}

// The menu commands that `quillon --send-command` sends to this program.
void ListenForCommands(CommandServer& commands, MainWindow& window)
{
    commands.Listen(CommandSocketPath());
    // Queued, so a command that opens a modal dialog runs after its sender
    // has been answered.
    QObject::connect(&commands, &CommandServer::commandReceived, &window, &MainWindow::OnCommand, Qt::QueuedConnection);
}

// The window over the port, until it is closed.
int RunWindow(int argc, char** argv, const CommandLine& commandLine)
{
    SteadyClock clock;
    RunPort runPort(clock);
    if (const int status = runPort.Make(commandLine); status != 0) {
        return status;
    }
    Line& line = runPort.line();
    std::optional<SerialPortControl> serialControl;
    std::optional<RunLinkControl> lineControl;
    PortControl& portControl = MakePortControl(line, runPort.target(), serialControl, lineControl);
    PanelHost host(line.panelEnd(), clock);
    host.SetFaults(&line.faults());
    PanelEngine& engine = host.engine();
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
    taps.Attach(host);
    std::unique_ptr<DisplayFilm> film;
    if (!OpenFilm(commandLine, film, host)) {
        return kBadInputStatus;
    }
    RunServices services(host, line, commandLine, MessageStream(commandLine));
    if (serialControl) {
        serialControl->SetTell(
            [&engine](PortChange change, int failedStep) { engine.TellPortChange(change, failedStep); });
        services.KeepReopening(*serialControl);
    }
    const std::unique_ptr<MainWindow> window =
        application.ShowMainWindow(WindowContext{host, portControl, messages, runPort.target()});
    if (film) {
        // The start-up screen, drawn as the window was shown.
        film->Look(clock.NowMicros());
        window->TakeRecording(std::move(film), commandLine.recordDisplayPath);
    }
    ProtocolMonitor monitor(taps.log(), engine.display());
    monitor.Attach(*window);
    if (commandLine.monitor) {
        monitor.Open();
    }

    CommandServer commands(&MainWindow::IsCommand);
    ListenForCommands(commands, *window);
    if (!services.StartControl(*window) || !services.StartWeb()) {
        return kBadInputStatus;
    }
    if (!runPort.StartDemo(*window)) {
        return 1;
    }
    if (!services.StartDevice(*window)) {
        return kBadInputStatus;
    }
    std::optional<ReplayEnd> replayEnd;
    if (line.replaying()) {
        replayEnd.emplace(line, commandLine.replayPath, MessageStream(commandLine));
    }
    std::optional<Screenshot> screenshot;
    TakeScreenshot(commandLine, *window, monitor, runPort, replayEnd, screenshot);
    QuitOnStopSignals(application);
    const int status = application.exec();
    line.StopDemo();
    // The line's last events reach the trace, the monitor and the film
    // before they close.
    host.Stop();
    // The film, from the command line or the menu, ends with the program.
    if (const QString error = window->StopRecording(); !error.isEmpty()) {
        Print(stderr, QStringLiteral("quillon: %1\n").arg(error));
    }
    services.PrintStats();
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
    const int status = RunWindow(argc, argv, commandLine);
    EndByStopSignal();
    return status;
}

} // namespace quillon
