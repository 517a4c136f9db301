#pragma once

class QCoreApplication;

namespace quillon {

// SIGINT and SIGTERM (Ctrl+C in the terminal, `kill`, a service manager
// stopping the bench) end the window's run as its event loop ending does:
// the line's last events reach the trace, the monitor and the film, and the
// files are closed whole. The program then ends by that same signal, so
// whoever sent it sees the status it always has.
void QuitOnStopSignals(QCoreApplication& application);

// Ends the program by the stop signal that ended its run, if one did.
void EndByStopSignal();

} // namespace quillon
