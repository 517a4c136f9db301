// quillon-demo-device: plays the controlling device on a serial line, so the
// emulator (or a real panel) can be tried without one.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include <pthread.h>

#include "tools/demo/demo_device.h"

namespace {

constexpr std::string_view kUsage = "Usage: quillon-demo-device --port PATH [--no-pacing] [--quiet]\n"
                                    "\n"
                                    "Plays the controlling device of the panel on a serial line: it draws a small\n"
                                    "panel application (a menu, a set point with a slider bar, the contrast, a\n"
                                    "status screen with icons, test patterns) and follows the panel's keys.\n"
                                    "\n"
                                    "  --port PATH   the line to use: a serial device (/dev/ttyUSB0), a\n"
                                    "                pseudo-terminal (/dev/pts/3, the path `quillon --virtual-port`\n"
                                    "                prints) or a symbolic link to one (a socat pair)\n"
                                    "  --no-pacing   send each block at once instead of at 9600 baud's pace\n"
                                    "  --quiet       print nothing but errors\n"
                                    "  --help        show this text\n"
                                    "\n"
                                    "Keys on the panel: up and down move and change, right opens, left goes back.\n"
                                    "Stop with Ctrl+C.\n";

int UsageError(const std::string& message)
{
    std::cerr << "quillon-demo-device: " << message << "\n\n" << kUsage;
    return 2;
}

std::string StepText(int step)
{
    switch (step) {
    case 1:
        return "it could not be opened";
    case 2:
    case 3:
        return "its line settings (9600 8N1) could not be made";
    default:
        return "its time-outs could not be set";
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string port;
    quillon::demo::DemoOptions options;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--port") {
            if (i + 1 == argc) {
                return UsageError("--port needs a path");
            }
            port = argv[++i];
        } else if (argument == "--no-pacing") {
            options.paceWrites = false;
        } else if (argument == "--quiet") {
            quiet = true;
        } else {
            return UsageError("unknown option " + std::string(argument));
        }
    }
    if (port.empty()) {
        return UsageError("which port? Give --port PATH");
    }
    if (!quiet) {
        options.log = [](const std::string& line) { std::cout << line << std::endl; };
    }

    // Ctrl+C and termination end the device in order: the signals are taken
    // here, on this thread, never in the middle of the device's work.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    quillon::demo::DemoDeviceThread device(options);
    errno = 0;
    const int failedStep = device.Start(port);
    if (failedStep != 0) {
        const int error = errno;
        std::cerr << "quillon-demo-device: cannot use " << port << ": " << StepText(failedStep);
        if (failedStep == 1 && error != 0) {
            std::cerr << " (" << std::strerror(error) << ")";
        }
        std::cerr << "\n";
        return 1;
    }
    if (!quiet) {
        std::cout << "Demo device on " << port << ", looking for the panel; Ctrl+C stops it." << std::endl;
    }
    int signal = 0;
    sigwait(&endSignals, &signal);
    device.Stop();
    return 0;
}
