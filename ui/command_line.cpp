#include "ui/command_line.h"

#include <QCommandLineParser>

#include "host/line.h"
#include "link/paced_port.h"
#include "ui/version.h"

namespace quillon {

namespace {

// Command identifiers are 16-bit.
constexpr int kMaxCommandId = 0xFFFF;

// An hour is already far more than any screen needs to be drawn.
constexpr double kMaxScreenshotDelaySeconds = 3600;

// A replay a hundred times faster than the line already delivers blocks
// faster than the panel answers them.
constexpr double kMaxReplaySpeed = 100;

// A device listened for is reached on this machine alone unless told.
const std::string kDefaultListenHost = "127.0.0.1";

const QString kVirtualPort = QStringLiteral("virtual-port");
const QStringList kValueOptions{QStringLiteral("port"),           QStringLiteral("send-command"),
                                QStringLiteral("screenshot"),     QStringLiteral("screenshot-after"),
                                QStringLiteral("trace"),          QStringLiteral("trace-format"),
                                QStringLiteral("record"),         QStringLiteral("replay"),
                                QStringLiteral("speed"),          QStringLiteral("tcp-connect"),
                                QStringLiteral("tcp-listen"),     QStringLiteral("screenshot-row"),
                                QStringLiteral("line-rate"),      QStringLiteral("fault"),
                                QStringLiteral("fault-seed"),     QStringLiteral("spawn"),
                                QStringLiteral("control"),        QStringLiteral("control-tcp"),
                                QStringLiteral("record-display"), QStringLiteral("http"),
                                QStringLiteral("http-token")};

CommandLine Failed(const QString& error)
{
    CommandLine failed;
    failed.action = CommandLine::Action::Error;
    failed.error = error;
    return failed;
}

void AddOptions(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const char* flag : {"version", "demo", "demo-busy", "reply-on-tick", "monitor", "reconnect", "stats",
                             "synch-required", "http-read-only"}) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(flag)));
    }
    // --virtual-port takes its link as a value, see JoinVirtualPortLink.
    for (const QString& name : kValueOptions + QStringList{kVirtualPort}) {
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("VALUE")));
    }
}

// The parser knows no option whose value may be left out. So the link that
// follows --virtual-port (an argument not starting with '-') is joined to it
// here, and a bare --virtual-port is given an empty value. The value of
// another option is never taken for one.
QStringList JoinVirtualPortLink(QStringList arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QStringLiteral("--")) && kValueOptions.contains(arguments[i].mid(2))) {
            ++i;
        } else if (arguments[i] == QStringLiteral("--") + kVirtualPort) {
            const bool linkFollows = i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1Char('-'));
            arguments[i] += QLatin1Char('=') + (linkFollows ? arguments.takeAt(i + 1) : QString());
        }
    }
    return arguments;
}

// Checks and takes the values that are numbers; an error text for the first
// that is wrong.
QString TakeNumbers(const QCommandLineParser& parser, CommandLine& result)
{
    bool isNumber = false;
    if (parser.isSet(QStringLiteral("send-command"))) {
        result.commandId = parser.value(QStringLiteral("send-command")).toInt(&isNumber);
        if (!isNumber || result.commandId < 1 || result.commandId > kMaxCommandId) {
            return QStringLiteral("--send-command needs a command identifier from 1 to %1").arg(kMaxCommandId);
        }
        result.action = CommandLine::Action::SendCommand;
    }
    if (parser.isSet(QStringLiteral("screenshot-after"))) {
        const double seconds = parser.value(QStringLiteral("screenshot-after")).toDouble(&isNumber);
        if (!isNumber || !(seconds >= 0 && seconds <= kMaxScreenshotDelaySeconds)) {
            return QStringLiteral("--screenshot-after needs a number of seconds from 0 to %1")
                .arg(kMaxScreenshotDelaySeconds);
        }
        result.screenshotDelayMs = qRound(seconds * 1000);
    } else if (result.demo) {
        result.screenshotDelayMs = kDemoScreenshotDelayMs;
    }
    if (parser.isSet(QStringLiteral("screenshot-row"))) {
        result.screenshotRow = parser.value(QStringLiteral("screenshot-row")).toULongLong(&isNumber);
        if (!isNumber || result.screenshotRow == 0) {
            return QStringLiteral("--screenshot-row needs a row number from 1 on");
        }
    }
    if (parser.isSet(QStringLiteral("line-rate"))) {
        std::string error;
        const auto rate = ParseLineRate(parser.value(QStringLiteral("line-rate")).toStdString(), error);
        if (!rate) {
            return QStringLiteral("--line-rate: %1").arg(QString::fromStdString(error));
        }
        result.lineRate = *rate;
    }
    for (const QString& written : parser.values(QStringLiteral("fault"))) {
        std::string error;
        const auto rule = ParseFaultRule(written.toStdString(), error);
        if (!rule) {
            return QStringLiteral("--fault: %1").arg(QString::fromStdString(error));
        }
        result.faults.push_back(*rule);
    }
    if (parser.isSet(QStringLiteral("fault-seed"))) {
        result.faultSeed = parser.value(QStringLiteral("fault-seed")).toULongLong(&isNumber);
        if (!isNumber) {
            return QStringLiteral("--fault-seed needs a whole number from 0 to 18446744073709551615");
        }
    }
    if (parser.isSet(QStringLiteral("control-tcp"))) {
        const uint port = parser.value(QStringLiteral("control-tcp")).toUInt(&isNumber);
        if (!isNumber || port > 65535) {
            return QStringLiteral("--control-tcp needs a TCP port from 0 to 65535");
        }
        result.controlTcp = static_cast<std::uint16_t>(port);
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        result.replaySpeed = parser.value(QStringLiteral("speed")).toDouble(&isNumber);
        if (!isNumber || !(result.replaySpeed > 0 && result.replaySpeed <= kMaxReplaySpeed)) {
            return QStringLiteral("--speed needs a number above 0 and at most %1").arg(kMaxReplaySpeed);
        }
    }
    return {};
}

// The trace format and the TCP address; an error text for the first that is
// wrong.
QString TakeLinkValues(const QCommandLineParser& parser, CommandLine& result)
{
    if (parser.isSet(QStringLiteral("trace-format"))) {
        const QString format = parser.value(QStringLiteral("trace-format"));
        if (format != QStringLiteral("text") && format != QStringLiteral("jsonl")) {
            return QStringLiteral("--trace-format is text or jsonl");
        }
        result.traceJson = format == QStringLiteral("jsonl");
    }
    for (const char* name : {"tcp-connect", "tcp-listen"}) {
        const QString option = QString::fromLatin1(name);
        if (!parser.isSet(option)) {
            continue;
        }
        result.tcpListen = option == QStringLiteral("tcp-listen");
        TcpAddress address;
        std::string error;
        if (!ParseTcpAddress(parser.value(option).toStdString(), result.tcpListen ? kDefaultListenHost : std::string(),
                             address, error)) {
            return QStringLiteral("--%1: %2").arg(option, QString::fromStdString(error));
        }
        result.tcpAddress = address;
    }
    return {};
}

// The kind of line the options name, with what the checks of a line look at.
LineDescription LineKindGiven(const CommandLine& result)
{
    LineDescription described;
    described.lineRate = result.lineRate;
    if (result.virtualPort) {
        described.kind = LineDescription::Kind::Virtual;
    } else if (result.demo) {
        described.kind = LineDescription::Kind::Demo;
    } else if (!result.replayPath.isEmpty()) {
        described.kind = LineDescription::Kind::Replay;
    } else if (result.tcpAddress) {
        described.kind = result.tcpListen ? LineDescription::Kind::TcpListen : LineDescription::Kind::TcpConnect;
    }
    return described;
}

// What is wrong with the options given together, if anything.
QString Conflict(const QCommandLineParser& parser, const CommandLine& result)
{
    if (parser.isSet(QStringLiteral("port")) && result.portPath.isEmpty()) {
        return QStringLiteral("--port needs the path of a serial device");
    }
    if (parser.isSet(QStringLiteral("screenshot")) && result.screenshotPath.isEmpty()) {
        return QStringLiteral("--screenshot needs a file name");
    }
    if (parser.isSet(QStringLiteral("screenshot-after")) && result.screenshotPath.isEmpty()) {
        return QStringLiteral("--screenshot-after goes with --screenshot FILE");
    }
    if (parser.isSet(QStringLiteral("synch-required"))) {
        return QStringLiteral("--synch-required is quillon-run's: the window keeps Synch. Required in its settings "
                              "(Options menu)");
    }
    for (const char* name : {"spawn", "control"}) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && parser.value(option).isEmpty()) {
            return QStringLiteral("--%1 needs a value").arg(option);
        }
    }
    if (result.demoBusy && !result.demo) {
        return QStringLiteral("--demo-busy goes with --demo");
    }
    if (!result.controlPath.isEmpty() && result.controlTcp) {
        return QStringLiteral("give only one of --control and --control-tcp");
    }
    if (result.http.empty() && (!result.httpToken.empty() || result.httpReadOnly)) {
        return QStringLiteral("--http-token and --http-read-only go with --http");
    }
    const int links = !result.portPath.isEmpty() + result.virtualPort + result.demo + !result.replayPath.isEmpty() +
                      parser.isSet(QStringLiteral("tcp-connect")) + parser.isSet(QStringLiteral("tcp-listen"));
    if (const std::string error =
            CheckLineOptions(links, LineKindGiven(result), result.reconnect, !result.spawn.isEmpty());
        !error.empty()) {
        return QString::fromStdString(error);
    }
    for (const char* name : {"trace", "record", "record-display", "replay"}) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && parser.value(option).isEmpty()) {
            return QStringLiteral("--%1 needs a file name").arg(option);
        }
    }
    if (parser.isSet(QStringLiteral("trace-format")) && result.tracePath.isEmpty()) {
        return QStringLiteral("--trace-format goes with --trace FILE");
    }
    if (parser.isSet(QStringLiteral("screenshot-row")) && (!result.monitor || result.screenshotPath.isEmpty())) {
        return QStringLiteral("--screenshot-row goes with --monitor and --screenshot FILE");
    }
    if (parser.isSet(QStringLiteral("speed")) && result.replayPath.isEmpty()) {
        return QStringLiteral("--speed goes with --replay FILE");
    }
    return {};
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("quillon")} + JoinVirtualPortLink(arguments))) {
        return Failed(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Failed(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    }
    CommandLine result;
    result.portPath = parser.value(QStringLiteral("port"));
    result.virtualPort = parser.isSet(kVirtualPort);
    result.virtualLink = parser.value(kVirtualPort);
    result.demo = parser.isSet(QStringLiteral("demo"));
    result.demoBusy = parser.isSet(QStringLiteral("demo-busy"));
    result.replyOnTick = parser.isSet(QStringLiteral("reply-on-tick"));
    result.reconnect = parser.isSet(QStringLiteral("reconnect"));
    result.screenshotPath = parser.value(QStringLiteral("screenshot"));
    result.monitor = parser.isSet(QStringLiteral("monitor"));
    result.tracePath = parser.value(QStringLiteral("trace"));
    result.recordPath = parser.value(QStringLiteral("record"));
    result.recordDisplayPath = parser.value(QStringLiteral("record-display"));
    result.replayPath = parser.value(QStringLiteral("replay"));
    result.spawn = parser.value(QStringLiteral("spawn"));
    result.controlPath = parser.value(QStringLiteral("control"));
    result.http = parser.value(QStringLiteral("http")).toStdString();
    result.httpToken = parser.value(QStringLiteral("http-token")).toStdString();
    result.httpReadOnly = parser.isSet(QStringLiteral("http-read-only"));
    result.stats = parser.isSet(QStringLiteral("stats"));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        result.action = parser.isSet(QStringLiteral("help")) ? CommandLine::Action::Help : CommandLine::Action::Version;
        return result;
    }
    QString error = TakeNumbers(parser, result);
    if (error.isEmpty()) {
        error = TakeLinkValues(parser, result);
    }
    if (error.isEmpty()) {
        error = Conflict(parser, result);
    }
    return error.isEmpty() ? result : Failed(error);
}

namespace {

// The options, each with what it does; %1 is where the stored port is,
// %2 where the settings are kept, %3 how to run without a display, %4
// what runs a spawned command and %5 what is not on this system.
constexpr char kHelp[] = "Usage: quillon [OPTION]...\n"
                         "Emulates the operator panel on a serial line: the window shows the panel\n"
                         "front with its display, and clicks on its four keys go to the device.\n"
                         "\n"
                         "  --port PATH            use the serial device PATH for this run instead of\n"
                         "                         %1\n"
                         "  --reconnect            when the serial line hangs up (the far end of a\n"
                         "                         pseudo-terminal closed, a USB adapter pulled), open\n"
                         "                         the same port again every second until it answers:\n"
                         "                           quillon --port /tmp/panel-a --reconnect\n"
                         "  --virtual-port [LINK]  use a new pseudo-terminal instead of a serial port;\n"
                         "                         print the path the device should open, and make\n"
                         "                         LINK a symbolic link to it (not on Windows)\n"
                         "  --demo                 run the built-in demo device on a line of its own\n"
                         "                         and show the panel it drives; no hardware\n"
                         "                         needed. Up and down move, right opens, left goes\n"
                         "                         back; closing the window ends both\n"
                         "  --demo-busy            with --demo: the device asks for the keys without\n"
                         "                         pause, keeping the line busy (for load tests)\n"
                         "  --send-command ID      run command ID in the running Quillon and exit:\n"
                         "                         32806 Send Packet dialog, 32792 Comms Port dialog,\n"
                         "                         32808 Synch. Required, 32810 Save Settings,\n"
                         "                         32800 About box, 32812 Record Display (asks for\n"
                         "                         the file) or Stop Recording\n"
                         "  --reply-on-tick        answer each block on the next 10 ms tick instead of\n"
                         "                         as soon as it is complete\n"
                         "  --tcp-connect HOST:PORT\n"
                         "                         connect to a device whose serial line is a TCP\n"
                         "                         server instead of using a serial port\n"
                         "  --tcp-listen [HOST:]PORT\n"
                         "                         wait for such a device to connect (HOST 127.0.0.1\n"
                         "                         unless given); one device at a time\n"
                         "  --line-rate BAUD       pace the bytes both ways as a cable at BAUD (110 to\n"
                         "                         4000000) with 10 bits a byte, on a TCP link, the\n"
                         "                         demo's line or a virtual port; 0 (the default) as\n"
                         "                         fast as the link goes. A serial device paces in its\n"
                         "                         hardware and is left as it is\n"
                         "  --fault KIND:KEY=VALUE,...\n"
                         "                         inject a fault into what crosses the line, such as\n"
                         "                         drop-reply:every=5 or delay-reply:ms=300,p=0.05;\n"
                         "                         the kinds: drop-reply, corrupt-reply, delay-reply,\n"
                         "                         truncate-reply, drop-byte, flip-bit, unplug,\n"
                         "                         hold-reply (the panel slow to answer). May be\n"
                         "                         repeated; the monitor and the trace tell each one\n"
                         "  --fault-seed S         the seed of the faults given with p=, so that a run\n"
                         "                         can be repeated (a new one, printed, unless given)\n"
                         "  --replay FILE          play a recording into the panel instead of using a\n"
                         "                         port; the replies go nowhere\n"
                         "  --speed X              play it X times as fast (0.5 half as fast)\n"
                         "  --monitor              open the protocol monitor with the window (View >\n"
                         "                         Protocol Monitor, Ctrl+M, opens it later)\n"
                         "  --trace FILE           write every frame and reply to FILE as they happen\n"
                         "                         (- for standard output)\n"
                         "  --trace-format text|jsonl\n"
                         "                         readable text (the default) or JSON Lines\n"
                         "  --record FILE          record what the device sends, with its times, for\n"
                         "                         --replay\n"
                         "  --record-display FILE  film the display into FILE, an animated GIF at\n"
                         "                         twice its size with a frame each time it changed,\n"
                         "                         written out at View > Stop Recording or when the\n"
                         "                         window closes\n"
                         "  --spawn COMMAND        start the device with %4 once the panel listens,\n"
                         "                         {port} replaced by the port (the TCP port of\n"
                         "                         --tcp-listen, the path of a virtual port), and end\n"
                         "                         it when the window closes; a device that ends first\n"
                         "                         is told in the title and the monitor\n"
                         "  --control PATH         serve the control socket (JSON Lines, as\n"
                         "                         quillon-run's) at PATH, a Unix socket%5\n"
                         "  --control-tcp PORT     the same on PORT of 127.0.0.1 (0 picks one)\n"
                         "  --http [HOST:]PORT     serve the panel as a web page, the control protocol\n"
                         "                         over a WebSocket at /ws (HOST 127.0.0.1 unless\n"
                         "                         given, PORT 0 picks one; the address is printed)\n"
                         "  --http-token TOKEN     the token every request must carry; one is made\n"
                         "                         and printed when HOST is not loopback\n"
                         "  --http-read-only       the page shows the panel but takes no keys or faults\n"
                         "  --stats                print the link's figures as JSON on standard error\n"
                         "                         when the window closes\n"
                         "  --screenshot FILE      save a picture of the window (and of the monitor\n"
                         "                         beside it when open) to FILE once it is shown,\n"
                         "                         print where it went, and exit\n"
                         "  --screenshot-after SECONDS\n"
                         "                         take that picture SECONDS after the window is\n"
                         "                         shown: 0 unless told, 2 with --demo; a demo run\n"
                         "                         also waits (10 s at most) for the device to have\n"
                         "                         drawn its first screen, a replay for the end of\n"
                         "                         the recording\n"
                         "  --screenshot-row N     with --monitor, select the monitor's row N for that\n"
                         "                         picture, marking the pixels its frame changed\n"
                         "  --help                 show this help and exit\n"
                         "  --version              show the version and exit\n"
                         "\n"
                         "%2%3";

} // namespace

QString HelpText()
{
#ifdef Q_OS_WIN
    const QString portLine = QStringLiteral("the stored COM port (COM7, COM12: any COM port)");
    const QString settings = QStringLiteral("Settings are kept in the registry under\n"
                                            "HKEY_CURRENT_USER\\Software\\Ostrel\\Quillon.\n");
    const QString headless;
    const QString shell = QStringLiteral("cmd");
    const QString notOnWindows = QStringLiteral(" (not on Windows)");
#else
    const QString portLine = QStringLiteral("the stored COM port (COM n is /dev/ttyS{n-1})");
    const QString settings = QStringLiteral("Settings are kept in $XDG_CONFIG_HOME/Ostrel/Quillon.conf\n"
                                            "(~/.config/Ostrel/Quillon.conf when XDG_CONFIG_HOME is not set).\n");
    const QString headless = QStringLiteral("\n"
                                            "Without a display, run it under xvfb-run with a screenshot:\n"
                                            "  xvfb-run -a quillon --demo --screenshot demo.png\n");
    const QString shell = QStringLiteral("the shell");
    const QString notOnWindows;
#endif
    return QString::fromUtf8(kHelp).arg(portLine, settings, headless, shell, notOnWindows);
}

QString VersionText()
{
    return VersionLine() + QLatin1Char('\n');
}

} // namespace quillon
