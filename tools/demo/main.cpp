// quillon-demo-device: plays the controlling device on a serial line, so the
// emulator (or a real panel) can be tried without one.
#include <iostream>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include "serial/port_setup.h"
#include "tools/demo/demo_device.h"

namespace {

constexpr std::string_view kUsage = "Usage: quillon-demo-device --port PATH [--no-pacing] [--quiet]\n"
                                    "\n"
                                    "Plays the controlling device of the panel on a serial line: it draws a small\n"
                                    "panel application (a menu, a set point with a slider bar, the contrast, a\n"
                                    "status screen with icons, test patterns) and follows the panel's keys.\n"
                                    "\n"
                                    "  --port PATH   the line to use: a serial device (/dev/ttyUSB0, COM3 on\n"
                                    "                Windows), a pseudo-terminal (/dev/pts/3, the path\n"
                                    "                `quillon --virtual-port` prints) or a symbolic link to one\n"
                                    "                (a socat pair)\n"
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

// Ctrl+C and termination end the device in order: they are taken on the main
// thread, never in the middle of the device's work.
#ifdef _WIN32
HANDLE stopRequested = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD)
{
    SetEvent(stopRequested);
    return TRUE;
}

void TakeStopRequests()
{
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStopRequest()
{
    WaitForSingleObject(stopRequested, INFINITE);
}
#else
sigset_t endSignals;

// Before any thread starts, so that every thread blocks the signals.
void TakeStopRequests()
{
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
}

void WaitForStopRequest()
{
    int signal = 0;
    sigwait(&endSignals, &signal);
}
#endif

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

    TakeStopRequests();
    quillon::demo::DemoDeviceThread device(options);
    const int failedStep = device.Start(port);
    // Taken at once, before any other call can change it: the reason belongs
    // to the failed set-up step.
    const std::string reason = failedStep != 0 ? quillon::LastSystemError() : std::string();
    if (failedStep != 0) {
        std::cerr << "quillon-demo-device: cannot use " << port << ": " << quillon::SetupStepText(failedStep);
        if (failedStep == quillon::kOpenStep) {
            std::cerr << " (" << reason << ")";
        }
        std::cerr << "\n";
        return 1;
    }
    if (!quiet) {
        std::cout << "Demo device on " << port << ", looking for the panel; Ctrl+C stops it." << std::endl;
    }
    WaitForStopRequest();
    device.Stop();
    return 0;
}
