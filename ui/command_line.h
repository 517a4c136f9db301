#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "link/fault_rules.h"
#include "serial/tcp_port.h"

namespace quillon {

// The program's own command-line options. With none of them the program is
// the panel window alone, as it always was.
struct CommandLine {
    enum class Action { Run, Help, Version, SendCommand, Error };

    Action action = Action::Run;
    // --port PATH: the device for this run instead of the stored port.
    QString portPath;
    // --virtual-port [LINK]: a pseudo-terminal instead of a serial port,
    // with LINK made a symbolic link to its device end.
    bool virtualPort = false;
    QString virtualLink;
    // --send-command ID
    int commandId = 0;
    // --demo: a virtual port with the demo device on its far end.
    bool demo = false;
    // --demo-busy: the demo device asks for the keys without pause.
    bool demoBusy = false;
    // --reply-on-tick: blocks are answered on the 10 ms tick only.
    bool replyOnTick = false;
    // --reconnect: a serial port whose line hangs up is opened again.
    bool reconnect = false;
    // --screenshot FILE: save the window's picture once shown, then end.
    QString screenshotPath;
    // --screenshot-after SECONDS: how long after showing the window the
    // picture is taken. A demo run waits long enough by default for the
    // device's first screen.
    int screenshotDelayMs = 0;
    // --monitor: the protocol monitor opens with the window.
    bool monitor = false;
    // --screenshot-row N: the monitor's row selected for the screenshot, so
    // the pixels its frame changed are marked; 0 for none.
    qulonglong screenshotRow = 0;
    // --trace FILE ("-" for standard output) and --trace-format text|jsonl.
    QString tracePath;
    bool traceJson = false;
    // --record FILE: what the device sends, with times.
    QString recordPath;
    // --record-display FILE: a film of the display, an animated GIF.
    QString recordDisplayPath;
    // --replay FILE [--speed X]: a recording played into the panel instead
    // of a port.
    QString replayPath;
    double replaySpeed = 1.0;
    // --tcp-connect HOST:PORT or --tcp-listen [HOST:]PORT (host 127.0.0.1
    // unless given): the device on a TCP socket instead of a port.
    std::optional<TcpAddress> tcpAddress;
    bool tcpListen = false;
    // --line-rate BAUD: the line paced as a cable at BAUD; 0 unpaced.
    std::uint32_t lineRate = 0;
    // --fault KIND:KEY=VALUE,... (repeatable) and --fault-seed S: faults
    // injected into what crosses the line, and the seed of the random ones.
    std::vector<FaultRule> faults;
    std::optional<std::uint64_t> faultSeed;
    // --spawn COMMAND: the device started once the panel listens, {port}
    // replaced by the port, and ended with the program.
    QString spawn;
    // --control PATH or --control-tcp PORT: the JSON Lines control socket.
    QString controlPath;
    std::optional<std::uint16_t> controlTcp;
    // --http [HOST:]PORT, --http-token TOKEN, --http-read-only: the panel on
    // a web page.
    std::string http;
    std::string httpToken;
    bool httpReadOnly = false;
    // --stats: the link's figures as JSON on standard error at the end.
    bool stats = false;
    // What is wrong when action is Error.
    QString error;
};

// arguments excludes the program name.
CommandLine ParseCommandLine(const QStringList& arguments);

// How long a demo run waits before its screenshot unless told otherwise.
inline constexpr int kDemoScreenshotDelayMs = 2000;

QString HelpText();
QString VersionText();

} // namespace quillon
