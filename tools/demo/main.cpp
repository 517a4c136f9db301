// quillon-demo-device: plays the controlling device on a serial line, so the
// emulator (or a real panel) can be tried without one.
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include "serial/port_setup.h"
#include "tools/demo/demo_device.h"

namespace {

int UsageError(const std::string& message)
{
    std::cerr << "quillon-demo-device: " << message << "\nTry quillon-demo-device --help.\n";
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
    CLI::App app("Plays the controlling device of the panel on a serial line: it draws a small\n"
                 "panel application (a menu, a set point with a slider bar, the contrast, a\n"
                 "status screen with icons, test patterns) and follows the panel's keys.",
                 "quillon-demo-device");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--port", port,
                   "the line to use: a serial device (/dev/ttyUSB0, COM3 on Windows), a pseudo-terminal "
                   "(/dev/pts/3, the path `quillon --virtual-port` prints) or a symbolic link to one (a socat pair)")
        ->type_name("PATH");
    bool noPacing = false;
    app.add_flag("--no-pacing", noPacing, "send each block at once instead of at 9600 baud's pace");
    app.add_flag("--quiet", quiet, "print nothing but errors");
    // Set again so that they come last in the help text.
    app.set_help_flag("-h,--help", "show this text");
    app.set_version_flag("--version", std::string("quillon-demo-device ") + QUILLON_VERSION, "print the version");
    app.footer("Keys on the panel: up and down move and change, right opens, left goes back.\n"
               "Stop with Ctrl+C.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    options.paceWrites = !noPacing;
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
