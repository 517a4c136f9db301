#pragma once

#include <QString>
#include <QStringList>

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
    // --screenshot FILE: save the window's picture once shown, then end.
    QString screenshotPath;
    // What is wrong when action is Error.
    QString error;
};

// arguments excludes the program name.
CommandLine ParseCommandLine(const QStringList& arguments);

QString HelpText();
QString VersionText();

} // namespace quillon
