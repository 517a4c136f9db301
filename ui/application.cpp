#include "ui/application.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "ui/command_line.h"
#include "ui/command_socket.h"
#include "ui/demo_mode.h"
#include "ui/message_sink.h"
#include "ui/panel_widget.h"
#include "ui/port_control.h"
#include "ui/version.h"

namespace quillon {

namespace {

constexpr int kSendTimeoutMs = 3000;
// A demo run's screenshot waits for the device's first screen at most this
// much longer than asked, and is taken then whatever the display shows.
constexpr int kDemoScreenWaitMs = 10000;
constexpr int kDemoScreenCheckMs = 100;

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Creating the application object without any display to talk to would
// abort the program; tell the user instead.
bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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

// The picture of the window for --screenshot: taken once the delay has
// passed and, in a demo run, the device has drawn its first screen (or is far
// too late with it); then the event loop ends, with 1 when the file could not
// be written.
class Screenshot {
public:
    Screenshot(MainWindow& window, QString path, int delayMs, const DemoMode* demo)
        : window_(window), path_(std::move(path)), demo_(demo)
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
        const bool drawn = demo_ == nullptr || demo_->Status().shown.has_value();
        if (!drawn && !wait_.hasExpired(kDemoScreenWaitMs)) {
            return;
        }
        if (!drawn) {
            Print(stderr, QStringLiteral("quillon: the demo device has not drawn a screen yet\n"));
        }
        check_.stop();
        const bool saved = window_.grab().save(path_);
        if (saved) {
            Print(stdout, QStringLiteral("quillon: screenshot saved to %1\n")
                              .arg(QDir::toNativeSeparators(QFileInfo(path_).absoluteFilePath())));
        } else {
            Print(stderr, QStringLiteral("quillon: cannot save %1\n").arg(path_));
        }
        QCoreApplication::exit(saved ? 0 : 1);
    }

    MainWindow& window_;
    const QString path_;
    const DemoMode* demo_;
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
// stored one: a device path, a virtual port, or the demo's virtual port with
// the demo device on its far end.
class RunPort {
public:
    // Makes the virtual port the command line asks for; false, with the
    // reason printed, when it cannot be made.
    bool Make(const CommandLine& commandLine)
    {
        if (commandLine.demo) {
            demo::DemoOptions options;
            // The device reports from its own thread, as it goes.
            options.log = [](const std::string& line) {
                Print(stdout, QStringLiteral("demo device: %1\n").arg(QString::fromStdString(line)));
            };
            demo_.emplace(std::move(options));
            if (!demo_->CreatePort()) {
                return Fail(QStringLiteral("cannot make the virtual port for the demo: %1").arg(demo_->ErrorText()));
            }
            target_ = demo_->Target();
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
        }
        return true;
    }

    // Started once the panel listens, so the device's first block is
    // answered at once rather than after its reply time-out.
    bool StartDemo(MainWindow& window)
    {
        if (!demo_) {
            return true;
        }
        if (demo_->Start(window) != 0) {
            return Fail(demo_->ErrorText());
        }
        Print(stdout, QStringLiteral("quillon: the demo device drives the panel on %1; close the window to end both\n")
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
            return &demo_->port();
        }
        return target_ && target_->kind == PortTarget::Kind::Virtual ? &virtualPort_ : nullptr;
    }
    const DemoMode* demo() const { return demo_ ? &*demo_ : nullptr; }

private:
    static bool Fail(const QString& reason)
    {
        Print(stderr, QStringLiteral("quillon: %1\n").arg(reason));
        return false;
    }

    VirtualPort virtualPort_;
    std::optional<DemoMode> demo_;
    std::optional<PortTarget> target_;
};

// The window over the port, until it is closed.
int RunWindow(int argc, char** argv, const CommandLine& commandLine)
{
    RunPort runPort;
    if (!runPort.Make(commandLine)) {
        return 1;
    }
    SerialPort serialPort;
    SerialPortControl portControl(serialPort, runPort.virtualPort());
    SteadyClock clock;
    PanelEngine engine(serialPort, clock);
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
    const std::unique_ptr<MainWindow> window =
        application.ShowMainWindow(WindowContext{engine, portControl, messages, runPort.target()});

    CommandServer commands(&MainWindow::IsCommand);
    commands.Listen(CommandSocketPath());
    // Queued, so a command that opens a modal dialog runs after its sender
    // has been answered.
    QObject::connect(&commands, &CommandServer::commandReceived, window.get(), &MainWindow::OnCommand,
                     Qt::QueuedConnection);
    if (!runPort.StartDemo(*window)) {
        return 1;
    }
    std::optional<Screenshot> screenshot;
    if (!commandLine.screenshotPath.isEmpty()) {
        screenshot.emplace(*window, commandLine.screenshotPath, commandLine.screenshotDelayMs, runPort.demo());
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
        Print(stderr, QStringLiteral("quillon: %1\nTry 'quillon --help' for the options.\n").arg(commandLine.error));
        return 2;
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
