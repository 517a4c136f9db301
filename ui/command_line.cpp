#include "ui/command_line.h"

namespace quillon {

namespace {

CommandLine Failed(const QString& error)
{
    CommandLine failed;
    failed.action = CommandLine::Action::Error;
    failed.error = error;
    return failed;
}

// Command identifiers are 16-bit.
constexpr int kMaxCommandId = 0xFFFF;

// An hour is already far more than any screen needs to be drawn.
constexpr double kMaxScreenshotDelaySeconds = 3600;

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    CommandLine result;
    bool sendCommand = false;
    bool screenshotDelayGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = argument.startsWith(QStringLiteral("--")) && equals > 0 ? argument.left(equals) : argument;
        const bool hasInlineValue = name.size() != argument.size();
        const QString inlineValue = hasInlineValue ? argument.mid(equals + 1) : QString();
        const bool nextIsValue = i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1Char('-'));
        // The value of an option that must have one: inline or the next argument.
        const auto requiredValue = [&](QString& value) {
            if (hasInlineValue) {
                value = inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            }
            return !value.isEmpty();
        };

        if (name == QStringLiteral("--help") || name == QStringLiteral("-h")) {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (name == QStringLiteral("--version")) {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (name == QStringLiteral("--port")) {
            if (!requiredValue(result.portPath)) {
                return Failed(QStringLiteral("--port needs the path of a serial device"));
            }
        } else if (name == QStringLiteral("--virtual-port")) {
            result.virtualPort = true;
            if (hasInlineValue) {
                result.virtualLink = inlineValue;
            } else if (nextIsValue) {
                result.virtualLink = arguments[++i];
            }
        } else if (name == QStringLiteral("--send-command")) {
            QString value;
            bool isNumber = false;
            const int id = requiredValue(value) ? value.toInt(&isNumber) : 0;
            if (!isNumber || id < 1 || id > kMaxCommandId) {
                return Failed(
                    QStringLiteral("--send-command needs a command identifier from 1 to %1").arg(kMaxCommandId));
            }
            sendCommand = true;
            result.commandId = id;
        } else if (name == QStringLiteral("--demo")) {
            result.demo = true;
        } else if (name == QStringLiteral("--screenshot")) {
            if (!requiredValue(result.screenshotPath)) {
                return Failed(QStringLiteral("--screenshot needs a file name"));
            }
        } else if (name == QStringLiteral("--screenshot-after")) {
            QString value;
            bool isNumber = false;
            const double seconds = requiredValue(value) ? value.toDouble(&isNumber) : 0;
            if (!isNumber || !(seconds >= 0 && seconds <= kMaxScreenshotDelaySeconds)) {
                return Failed(QStringLiteral("--screenshot-after needs a number of seconds from 0 to %1")
                                  .arg(kMaxScreenshotDelaySeconds));
            }
            result.screenshotDelayMs = qRound(seconds * 1000);
            screenshotDelayGiven = true;
        } else {
            return Failed(QStringLiteral("unknown option '%1'").arg(argument));
        }
    }
    if (!result.portPath.isEmpty() && result.virtualPort) {
        return Failed(QStringLiteral("--port and --virtual-port cannot be used together"));
    }
    if (result.demo && (!result.portPath.isEmpty() || result.virtualPort)) {
        return Failed(QStringLiteral("--demo makes its own port; it cannot be used with --port or --virtual-port"));
    }
    if (screenshotDelayGiven && result.screenshotPath.isEmpty()) {
        return Failed(QStringLiteral("--screenshot-after goes with --screenshot FILE"));
    }
    if (result.demo && !screenshotDelayGiven) {
        result.screenshotDelayMs = kDemoScreenshotDelayMs;
    }
    if (sendCommand) {
        result.action = CommandLine::Action::SendCommand;
    }
    return result;
}

QString HelpText()
{
    return QStringLiteral("Usage: quillon [OPTION]...\n"
                          "Emulates the operator panel on a serial line: the window shows the panel\n"
                          "front with its display, and clicks on its four keys go to the device.\n"
                          "\n"
                          "  --port PATH            use the serial device PATH for this run instead of\n"
                          "                         the stored COM port (COM n is /dev/ttyS{n-1})\n"
                          "  --virtual-port [LINK]  use a new pseudo-terminal instead of a serial port;\n"
                          "                         print the path the device should open, and make\n"
                          "                         LINK a symbolic link to it\n"
                          "  --demo                 run the built-in demo device on a virtual port of\n"
                          "                         its own and show the panel it drives; no hardware\n"
                          "                         needed. Up and down move, right opens, left goes\n"
                          "                         back; closing the window ends both\n"
                          "  --send-command ID      run command ID in the running Quillon and exit:\n"
                          "                         32806 Send Packet dialog, 32792 Comms Port dialog,\n"
                          "                         32808 Synch. Required, 32810 Save Settings,\n"
                          "                         32800 About box\n"
                          "  --screenshot FILE      save a picture of the window to FILE once it is\n"
                          "                         shown, print where it went, and exit\n"
                          "  --screenshot-after SECONDS\n"
                          "                         take that picture SECONDS after the window is\n"
                          "                         shown: 0 unless told, 2 with --demo; a demo run\n"
                          "                         also waits (10 s at most) for the device to have\n"
                          "                         drawn its first screen\n"
                          "  --help                 show this help and exit\n"
                          "  --version              show the version and exit\n"
                          "\n"
                          "Settings are kept in $XDG_CONFIG_HOME/Ostrel/Quillon.conf\n"
                          "(~/.config/Ostrel/Quillon.conf when XDG_CONFIG_HOME is not set).\n"
                          "\n"
                          "Without a display, run it under xvfb-run with a screenshot:\n"
                          "  xvfb-run -a quillon --demo --screenshot demo.png\n");
}

QString VersionText()
{
    return QStringLiteral("Quillon Version 1.2.1.1\n");
}

} // namespace quillon
