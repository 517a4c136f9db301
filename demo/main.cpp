// quillon-demo-device: plays the controlling device on a serial line, so the
// emulator (or a real panel) can be tried without one.
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include "demo/demo_device.h"
#include "serial/port_setup.h"
#include "serial/tcp_port.h"

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

// Connects or listens, as the command line asks, and tells where; an empty
// text, or why the line cannot be used.
std::string OpenTcp(quillon::TcpPort& tcp, const quillon::TcpAddress& address, bool listen, bool quiet)
{
    const std::string end = ", looking for the panel; Ctrl+C stops it.";
    if (!quiet) {
        tcp.SetLog([](const std::string& line) { std::cout << line << std::endl; });
        if (!listen) {
            std::cout << "Demo device connecting to " << address.host << ":" << address.port << end << std::endl;
        }
    }
    const std::string error = listen ? tcp.Listen(address) : tcp.Connect(address);
    if (error.empty() && listen && !quiet) {
        // For port 0, the port the system chose: the one a panel needs.
        std::cout << "Demo device listening on " << address.host << ":" << tcp.LocalPort() << end << std::endl;
    }
    return error;
}

struct CommandLine {
    std::string port;
    std::string tcpConnect;
    std::string tcpListen;
    bool noPacing = false;
    bool quiet = false;
};

// Reads the options into line; an exit status when the program is done
// with them (help, version or a usage error).
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& line)
{
    CLI::App app("Plays the controlling device of the panel on a serial line or a TCP socket: it\n"
                 "draws a small panel application (a menu, a set point with a slider bar, the contrast, a\n"
                 "status screen with icons, test patterns) and follows the panel's keys.",
                 "quillon-demo-device");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--port", line.port,
                   "the line to use: a serial device (/dev/ttyUSB0, COM3 on Windows), a pseudo-terminal "
                   "(/dev/pts/3, the path `quillon --virtual-port` prints) or a symbolic link to one (a socat pair)")
        ->type_name("PATH");
    app.add_option("--tcp-connect", line.tcpConnect,
                   "a panel whose line is a TCP socket (`quillon-run --tcp-listen`): connect to it, trying again "
                   "until its port is open, and again whenever it goes")
        ->type_name("HOST:PORT");
    app.add_option("--tcp-listen", line.tcpListen,
                   "wait for a panel to connect over TCP (`quillon-run --tcp-connect`), on HOST (127.0.0.1 unless "
                   "given); port 0 takes one the system chooses and prints it; one panel at a time, the next taken "
                   "when it goes")
        ->type_name("[HOST:]PORT");
    app.add_flag("--no-pacing", line.noPacing, "send each block at once instead of at 9600 baud's pace");
    app.add_flag("--quiet", line.quiet, "print nothing but errors");
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
    return std::nullopt;
}

int RunOnTcp(quillon::demo::DemoDeviceThread& device, quillon::TcpPort& tcp, const quillon::TcpAddress& address,
             bool listen, bool quiet)
{
    if (const std::string error = OpenTcp(tcp, address, listen, quiet); !error.empty()) {
        std::cerr << "quillon-demo-device: " << error << "\n";
        return 1;
    }
    device.Start(tcp);
    WaitForStopRequest();
    device.Stop();
    return 0;
}

int RunOnPort(quillon::demo::DemoDeviceThread& device, const std::string& port, bool quiet)
{
    const int failedStep = device.Start(port);
    // Taken at once, before any other call can change it: the reason belongs
    // to the failed set-up step.
    const int reason = failedStep != 0 ? quillon::LastSystemErrorCode() : 0;
    if (failedStep != 0) {
        std::cerr << "quillon-demo-device: " << quillon::PortFailure(port, failedStep, reason) << "\n";
        return 1;
    }
    if (!quiet) {
        std::cout << "Demo device on " << port << ", looking for the panel; Ctrl+C stops it." << std::endl;
    }
    WaitForStopRequest();
    device.Stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    if (const auto done = ParseCommandLine(argc, argv, line)) {
        return *done;
    }
    const int lines =
        (line.port.empty() ? 0 : 1) + (line.tcpConnect.empty() ? 0 : 1) + (line.tcpListen.empty() ? 0 : 1);
    if (lines == 0) {
        return UsageError("which line? Give --port PATH, --tcp-connect HOST:PORT or --tcp-listen [HOST:]PORT");
    }
    if (lines > 1) {
        return UsageError("one line at a time: --port, --tcp-connect or --tcp-listen");
    }
    const bool listen = !line.tcpListen.empty();
    quillon::TcpAddress address;
    // A panel listened for is reached on this machine alone unless told.
    if (std::string error; line.port.empty() && !quillon::ParseTcpAddress(listen ? line.tcpListen : line.tcpConnect,
                                                                          listen ? "127.0.0.1" : "", address, error)) {
        return UsageError(error);
    }
    quillon::demo::DemoOptions options;
    options.paceWrites = !line.noPacing;
    if (!line.quiet) {
        options.log = [](const std::string& text) { std::cout << text << std::endl; };
    }

    TakeStopRequests();
    // Declared before the device, so that it is closed after the device's
    // thread has stopped reading it.
    quillon::TcpPort tcp("panel");
    quillon::demo::DemoDeviceThread device(options);
    return line.port.empty() ? RunOnTcp(device, tcp, address, listen, line.quiet)
                             : RunOnPort(device, line.port, line.quiet);
}
