#include <csignal>

#include <poll.h>
#include <unistd.h>

#include "serial/standard_output.h"

namespace quillon {

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool StandardOutputClosed()
{
    // A pipe whose reader has ended reports an error, a terminal that has
    // hung up a hang-up, without anything being written. One that was never
    // open is not one that closed.
    pollfd outputs[] = {{STDOUT_FILENO, 0, 0}, {STDERR_FILENO, 0, 0}};
    if (poll(outputs, 2, 0) <= 0) {
        return false;
    }
    for (const pollfd& output : outputs) {
        if ((output.revents & (POLLERR | POLLHUP)) != 0) {
            return true;
        }
    }
    return false;
}

void ShowUtf8OnConsole()
{
}

bool ReachStandardError()
{
    return true;
}

} // namespace quillon
