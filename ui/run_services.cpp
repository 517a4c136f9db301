#include "ui/run_services.h"

#include <QFile>
#include <QString>

#include "host/stats.h"
#include "ui/main_window.h"

namespace quillon {

namespace {

// Where the device's output goes, in the current folder.
constexpr const char* kDeviceOutputName = "device.log";
// How often the device is looked at to see whether it has ended.
constexpr int kDeviceCheckMs = 100;
// How often a hung-up line is looked for with --reconnect; the tries to open
// it again keep their own second.
constexpr int kReconnectCheckMs = 50;

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

RunServices::RunServices(PanelHost& host, Line& line, const CommandLine& commandLine, std::FILE* messages)
    : host_(host), line_(line), commandLine_(commandLine), messages_(messages)
{
}

RunServices::~RunServices()
{
    server_.reset();
    web_.reset();
    if (const std::optional<ChildExit> ended = device_.End()) {
        Print(messages_,
              QStringLiteral("quillon: the device was ended: %1\n").arg(QString::fromStdString(ended->Describe())));
    }
}

bool RunServices::StartControl(MainWindow& window)
{
    if (commandLine_.controlPath.isEmpty() && !commandLine_.controlTcp) {
        return true;
    }
    control_ = std::make_unique<ControlService>(host_, [this](LineServer::ClientId client, const std::string& line) {
        if (server_) {
            server_->Send(client, line);
        }
    });
    std::string error;
    std::uint16_t bound = 0;
    server_ = commandLine_.controlTcp
                  ? ListenOnLocalTcp(*commandLine_.controlTcp, *control_, bound, error)
                  : ListenOnUnixSocket(QFile::encodeName(commandLine_.controlPath).toStdString(), *control_, error);
    if (!server_) {
        Print(stderr, QStringLiteral("quillon: control socket: %1\n").arg(QString::fromStdString(error)));
        return false;
    }
    Print(messages_,
          QStringLiteral("quillon: control socket on %1\n")
              .arg(commandLine_.controlTcp ? QStringLiteral("127.0.0.1:%1").arg(bound) : commandLine_.controlPath));
    host_.AddTurnHook([this, &window] {
        if (control_->quitRequested()) {
            window.close();
        }
    });
    return true;
}

bool RunServices::StartWeb()
{
    if (commandLine_.http.empty()) {
        return true;
    }
    WebServerOptions options;
    options.token = commandLine_.httpToken;
    options.readOnly = commandLine_.httpReadOnly;
    std::string told;
    std::string error;
    web_ = ServeWeb(host_, commandLine_.http, options, told, error);
    // The address is printed even when other messages are not: nobody could
    // reach the page otherwise.
    Print(stderr, QStringLiteral("quillon: %1\n").arg(QString::fromStdString(web_ ? told : error)));
    return web_ != nullptr;
}

bool RunServices::StartDevice(MainWindow& window)
{
    if (commandLine_.spawn.isEmpty()) {
        return true;
    }
    std::string error;
    const std::string command = SubstitutePort(commandLine_.spawn.toStdString(), line_.portForDevice());
    if (!device_.Start(command, kDeviceOutputName, error)) {
        Print(stderr, QStringLiteral("quillon: --spawn: %1\n").arg(QString::fromStdString(error)));
        return false;
    }
    Print(messages_, QStringLiteral("quillon: started the device; its output goes to %1\n").arg(kDeviceOutputName));
    connect(&deviceCheck_, &QTimer::timeout, this, [this, &window] { CheckDevice(window); });
    deviceCheck_.start(kDeviceCheckMs);
    return true;
}

void RunServices::CheckDevice(MainWindow& window)
{
    const std::optional<ChildExit> ended = device_.Poll();
    if (!ended) {
        return;
    }
    deviceCheck_.stop();
    const QString how = QString::fromStdString(ended->Describe());
    Print(messages_,
          QStringLiteral("quillon: the device ended: %1; its output is in %2\n").arg(how, kDeviceOutputName));
    window.TellDeviceEnded(how);
    host_.engine().TellPortChange(PortChange::DeviceEnded);
}

void RunServices::KeepReopening(SerialPortControl& control)
{
    if (!commandLine_.reconnect) {
        return;
    }
    reconnect_.emplace(
        line_.serial(), [&control] { return control.reopenPath(); },
        [this](PortChange change) { host_.engine().TellPortChange(change); });
    connect(&reconnectCheck_, &QTimer::timeout, this, [this] { reconnect_->Check(); });
    reconnectCheck_.start(kReconnectCheckMs);
}

void RunServices::PrintStats()
{
    if (commandLine_.stats) {
        Print(stderr, QString::fromStdString(StatsJson(host_, line_)) + QLatin1Char('\n'));
    }
}

} // namespace quillon
