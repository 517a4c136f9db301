#include "ui/corvane_app.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <QFile>
#include <QIcon>
#include <QTimer>

#include "link/link_state.h"
#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "ui/command_line.h"
#include "ui/command_socket.h"
#include "ui/corvane_view.h"
#include "ui/message_sink.h"
#include "ui/port_control.h"
#include "ui/steady_clock.h"

namespace quillon {

namespace {

constexpr int kSendTimeoutMs = 3000;

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

} // namespace

CCorvaneApp::CCorvaneApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Ostrel"));
    setApplicationName(QStringLiteral("Quillon"));
    setApplicationVersion(QStringLiteral("1.2.1.1"));
    setDesktopFileName(QStringLiteral("quillon"));
    setWindowIcon(QIcon(QStringLiteral(":/quillon.png")));
}

std::unique_ptr<CMainFrame> CCorvaneApp::InitInstance(const FrameContext& context)
{
    auto frame = std::make_unique<CMainFrame>(context);
    frame->view()->OnInitialUpdate();
    frame->move(0, 0);
    frame->show();
    frame->raise();
    return frame;
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
                                     "is set); start it in a desktop session or under xvfb-run\n"));
        return 1;
    }

    LinkState state;
    SteadyClock clock;
    VirtualPort virtualPort;
    std::optional<PortTarget> runPort;
    if (commandLine.virtualPort) {
        if (!virtualPort.Create(QFile::encodeName(commandLine.virtualLink).toStdString())) {
            Print(stderr, QStringLiteral("quillon: cannot make the virtual port: %1\n")
                              .arg(QString::fromStdString(virtualPort.ErrorText())));
            return 1;
        }
        const QString path = QFile::decodeName(virtualPort.PathForDevice().c_str());
        Print(stdout, path + QLatin1Char('\n'));
        runPort = PortTarget::Virtual(path);
    } else if (!commandLine.portPath.isEmpty()) {
        runPort = PortTarget::Device(commandLine.portPath);
    }
    SerialPort serialPort;
    SerialPortControl portControl(serialPort, commandLine.virtualPort ? &virtualPort : nullptr);
    // A screenshot run never waits for a click: its messages go to standard
    // error.
    MessageBoxSink messageBoxes;
    StreamSink errorStream(stderr);
    MessageSink& messages =
        commandLine.screenshotPath.isEmpty() ? static_cast<MessageSink&>(messageBoxes) : errorStream;

    std::optional<DisplayStartGuard> guard(std::in_place);
    CCorvaneApp application(argc, argv);
    guard.reset();
    const std::unique_ptr<CMainFrame> frame =
        application.InitInstance(FrameContext{state, portControl, clock, messages, runPort});

    CommandServer commands(&CMainFrame::IsCommand);
    commands.Listen(CommandSocketPath());
    // Queued, so a command that opens a modal dialog runs after its sender
    // has been answered.
    QObject::connect(&commands, &CommandServer::commandReceived, frame.get(), &CMainFrame::OnCommand,
                     Qt::QueuedConnection);

    if (!commandLine.screenshotPath.isEmpty()) {
        QTimer::singleShot(0, frame.get(), [&] {
            const bool saved = frame->grab().save(commandLine.screenshotPath);
            if (!saved) {
                Print(stderr, QStringLiteral("quillon: cannot save %1\n").arg(commandLine.screenshotPath));
            }
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return application.exec();
}

} // namespace quillon
