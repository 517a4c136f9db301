// quillon-run: the emulated panel with no window, for a firmware team's CI.
// It connects the panel to a device, runs scenario files against it (keys,
// waits for text or frames, screen comparisons), and serves a control socket
// for test frameworks.
#include <algorithm>
#include <array>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "demo/demo_device.h"
#include "host/control_service.h"
#include "host/display_film.h"
#include "host/json.h"
#include "host/line.h"
#include "host/line_files.h"
#include "host/panel_host.h"
#include "host/picture.h"
#include "host/stats.h"
#include "host/web_server.h"
#include "link/fault_port.h"
#include "link/fault_rules.h"
#include "link/paced_port.h"
#include "runner/host_loop.h"
#include "runner/html_report.h"
#include "runner/junit.h"
#include "runner/report_recorder.h"
#include "runner/scenario.h"
#include "runner/scenario_runner.h"
#include "serial/child_process.h"
#include "serial/line_server.h"
#include "serial/port_reconnect.h"
#include "serial/serial_port.h"
#include "serial/standard_output.h"

namespace {

using namespace quillon;
using namespace quillon::runner;
using Moment = PanelHost::Moment;

constexpr int kUsageStatus = 2;

// The help's words for what differs between the systems.
#ifdef _WIN32
constexpr const char* kPortHelp = "a COM port, COM1 to COM256";
constexpr const char* kNotOnWindows = " (not on Windows)";
constexpr const char* kShell = "cmd";
#else
constexpr const char* kPortHelp = "a serial device or pseudo-terminal";
constexpr const char* kNotOnWindows = "";
constexpr const char* kShell = "the shell";
#endif

// The device --spawn started ended before the run did.
constexpr int kDeviceEndedStatus = 3;
// Where the output of the device --spawn started goes, in the artifacts
// folder.
constexpr const char* kDeviceOutputName = "device.log";
// A device that ended first is told with this many of the last lines of its
// output, taken from this much of the end of it at most.
constexpr std::size_t kDeviceTailLines = 10;
constexpr std::streamoff kDeviceTailBytes = 4096;
constexpr std::uint32_t kScenarioTimeoutMs = 30'000;
// --dump-text alone waits for the screen to stay the same this long.
constexpr std::chrono::milliseconds kSettleTime{500};

// The signal that asked the run to stop, 0 for none.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    stopSignal = signal;
}

// The last `count` lines of the file at path (fewer when it has fewer), from
// its last kDeviceTailBytes; none when it is empty or cannot be read.
std::vector<std::string> LastLines(const std::string& path, std::size_t count)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        return {};
    }
    const std::streamoff start = std::max<std::streamoff>(0, std::streamoff(file.tellg()) - kDeviceTailBytes);
    file.seekg(start);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // A line the window starts within is left out rather than shown cut.
    std::size_t begin = 0;
    if (start > 0) {
        const std::size_t first = text.find('\n');
        begin = first == std::string::npos ? text.size() : first + 1;
    }
    std::vector<std::string> lines;
    while (begin < text.size()) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        std::string line = text.substr(begin, end - begin);
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        begin = end + 1;
    }
    if (lines.size() > count) {
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    }
    return lines;
}

// How the device --spawn started ended before the run, where its output is
// and that output's last lines, each on a line of its own.
std::string DeviceEndedText(const ChildExit& ended, const std::string& outputPath)
{
    std::string text = "the device ended before the run did: " + ended.Describe() + "; its output is in " + outputPath;
    const std::vector<std::string> lines = LastLines(outputPath, kDeviceTailLines);
    if (!lines.empty()) {
        text += ", which ends:";
        for (const std::string& line : lines) {
            text += "\n  " + line;
        }
    }
    return text;
}

// Makes the folder a file is to be written in, when it has one; a folder
// that cannot be made shows as the file that cannot be written.
void MakeFolderOf(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

// The moment in UTC, as "2026-12-10 11:04:22 UTC".
std::string UtcText(std::chrono::system_clock::time_point moment)
{
    const std::time_t time = std::chrono::system_clock::to_time_t(moment);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&time));
    return text.data();
}

int UsageError(const std::string& message)
{
    std::cerr << "quillon-run: " << message << "\nTry quillon-run --help.\n";
    return kUsageStatus;
}

struct Options {
    std::string port;
    std::optional<std::string> virtualPort;
    std::string tcpConnect;
    std::string tcpListen;
    bool demo = false;
    bool demoBusy = false;
    std::string replay;
    double speed = 1.0;
    std::string spawn;
    std::uint32_t lineRate = 0;
    std::vector<FaultRule> faults;
    std::optional<std::uint64_t> faultSeed;
    std::string trace;
    bool traceJson = false;
    std::string record;
    std::string recordDisplay;
    std::vector<std::string> scenarios;
    std::optional<std::uint32_t> timeoutMs;
    int timeoutExitCode = 42;
    std::string junit;
    std::string report;
    bool keepOnFailureOnly = false;
    std::string artifacts;
    bool updateGoldens = false;
    bool dumpText = false;
    std::optional<std::uint32_t> runForMs;
    std::string control;
    std::optional<std::uint16_t> controlTcp;
    std::string http;
    std::string httpToken;
    bool httpReadOnly = false;
    bool synchRequired = false;
    bool replyOnTick = false;
    bool reconnect = false;
    bool stats = false;
    bool quiet = false;
};

// A value of an option: refused, with the reason, unless it holds.
CLI::Validator Needs(std::function<bool(const std::string&)> holds, std::string reason)
{
    return CLI::Validator([holds = std::move(holds), reason = std::move(reason)](
                              std::string& text) { return holds(text) ? std::string() : reason; },
                          "");
}

// A text option: refused when its value holds no text.
CLI::Option* TextOption(CLI::App& app, const char* name, std::string& into, const char* type, const std::string& help)
{
    return app.add_option(name, into, help)
        ->type_name(type)
        ->check(Needs([](const std::string& text) { return !text.empty(); }, "needs a value"));
}

CLI::Option* DurationOption(CLI::App& app, const char* name, std::optional<std::uint32_t>& into, const char* help)
{
    return app
        .add_option_function<std::string>(
            name, [&into](const std::string& value) { into = ParseDuration(value); }, help)
        ->type_name("DURATION")
        ->check(Needs([](const std::string& text) { return ParseDuration(text).has_value(); },
                      "needs a duration such as 30s or 500ms"));
}

// What the command line holds beyond Options until it is checked.
struct Given {
    CLI::Option* virtualPort = nullptr;
    std::string virtualLink;
    std::string traceFormat = "text";
    CLI::Option* controlTcp = nullptr;
    int controlTcpPort = 0;
};

void AddLineOptions(CLI::App& app, Options& options, Given& given)
{
    app.option_defaults()->group("LINK, one of");
    TextOption(app, "--port", options.port, "PATH", kPortHelp);
    app.add_flag("--reconnect", options.reconnect,
                 "with --port: when the line hangs up (the device's end closed, a USB adapter pulled), open PATH "
                 "again every second until it answers, and go on");
    given.virtualPort =
        app.add_option("--virtual-port", given.virtualLink,
                       "make a pseudo-terminal for the device, print its path, and make LINK a symbolic link to it" +
                           std::string(kNotOnWindows))
            ->expected(0, 1)
            ->type_name("[LINK]");
    TextOption(app, "--tcp-connect", options.tcpConnect, "HOST:PORT",
               "connect to a device whose serial line is a TCP server (an emulator's -serial tcp:...,server)");
    TextOption(app, "--tcp-listen", options.tcpListen, "[HOST:]PORT",
               "wait for the device to connect (HOST 127.0.0.1 unless given)");
    app.add_flag("--demo", options.demo, "the built-in demo device, in this process");
    app.add_flag("--demo-busy", options.demoBusy,
                 "with --demo: the device asks for the keys without pause, keeping the line busy (for load tests)");
    TextOption(app, "--replay", options.replay, "FILE",
               "play a recording into the panel (replies go nowhere); the run ends when it is played");
    app.add_option("--speed", options.speed, "play the recording X times as fast, from 0.01 to 1000 (1)")
        ->type_name("X")
        ->check(Needs(
            [](const std::string& value) {
                try {
                    const double speed = std::stod(value);
                    return speed >= 0.01 && speed <= 1000;
                } catch (const std::exception&) {
                    return false;
                }
            },
            "needs a factor from 0.01 to 1000"));
}

// A value read by parse, refused with the reason parse gives.
template <typename Parse> CLI::Validator ParsedBy(Parse parse)
{
    return CLI::Validator(
        [parse](std::string& value) {
            std::string error;
            return parse(value, error) ? std::string() : error;
        },
        "");
}

void AddDeviceOptions(CLI::App& app, Options& options)
{
    app.option_defaults()->group("The device");
    TextOption(app, "--spawn", options.spawn, "COMMAND",
               std::string("start the device with ") + kShell +
                   " once the panel is ready, {port} replaced by the port, and end it when "
                   "the run ends; its output goes to device.log in the artifacts folder, whose last lines are told "
                   "when the device ends first (exit status 3)");
    app.add_option_function<std::string>(
           "--line-rate",
           [&options](const std::string& value) {
               std::string ignored;
               options.lineRate = ParseLineRate(value, ignored).value_or(0);
           },
           "pace the bytes both ways as a cable at BAUD with 10 bits a byte; 0 (the default) as fast as the link "
           "goes; a serial device paces in its hardware and is left as it is")
        ->type_name("BAUD")
        ->check(ParsedBy([](const std::string& value, std::string& error) { return ParseLineRate(value, error); }));
    app.add_option_function<std::vector<std::string>>(
           "--fault",
           [&options](const std::vector<std::string>& rules) {
               for (const std::string& rule : rules) {
                   std::string ignored;
                   options.faults.push_back(*ParseFaultRule(rule, ignored));
               }
           },
           "inject a fault into what crosses the line, such as drop-reply:every=5 or delay-reply:ms=300,p=0.05 "
           "(kinds: " +
               FaultKindList() + "); may be repeated")
        ->type_name("KIND:KEY=VALUE,...")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(ParsedBy([](const std::string& value, std::string& error) { return ParseFaultRule(value, error); }));
    app.add_option_function<std::uint64_t>(
           "--fault-seed", [&options](std::uint64_t seed) { options.faultSeed = seed; },
           "the seed of the faults given with p=, so that a run can be repeated exactly (a new one each run, "
           "printed, unless given)")
        ->type_name("S");
}

void AddResultOptions(CLI::App& app, Options& options, Given& given)
{
    app.option_defaults()->group("Scenarios and results");
    app.add_option("--scenario", options.scenarios, "run a scenario file (YAML); may be repeated")
        ->type_name("FILE")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(Needs([](const std::string& text) { return !text.empty(); }, "needs a value"));
    DurationOption(app, "--timeout", options.timeoutMs,
                   "end the run after DURATION (30s with scenarios, none otherwise), such as 500ms or 2s");
    app.add_option("--timeout-exit-code", options.timeoutExitCode, "exit status when the time-out passes (42)")
        ->type_name("N")
        ->check(CLI::Range(0, 255).description(""));
    TextOption(app, "--junit", options.junit, "FILE", "write a JUnit XML report");
    TextOption(app, "--report", options.report, "FILE.html",
               "write an HTML report of the run, every step with the display it left and the frames around it; "
               "the display is filmed beside it (FILE.gif) unless --record-display names the film");
    app.add_option_function<std::string>(
           "--keep-artifacts",
           [&options](const std::string& value) { options.keepOnFailureOnly = value == "on-failure"; },
           "keep the film and the pictures always (the default) or only when the run fails; a passing run's "
           "report keeps its summary")
        ->type_name("always|on-failure")
        ->check(CLI::IsMember({"always", "on-failure"}).description(""));
    TextOption(app, "--artifacts", options.artifacts, "DIR",
               "where screenshots and diff pictures go (the JUnit file's folder, or the current folder)");
    app.add_flag("--update-goldens", options.updateGoldens,
                 "write the screen into each expect-screen file instead of comparing");
    app.add_flag("--dump-text", options.dumpText, "print the text on the screen when the run ends");
    DurationOption(app, "--run-for", options.runForMs, "end the run after DURATION, successfully");
    TextOption(app, "--trace", options.trace, "FILE",
               "write every frame and reply as they happen (- for standard output)");
    app.add_option("--trace-format", given.traceFormat, "readable text (the default) or JSON Lines")
        ->type_name("text|jsonl")
        ->check(CLI::IsMember({"text", "jsonl"}).description(""));
    TextOption(app, "--record", options.record, "FILE",
               "write the device's bytes with their times into a recording that --replay plays back");
    TextOption(app, "--record-display", options.recordDisplay, "FILE",
               "film the display into an animated GIF at twice its size, a frame each time it changed");

    app.option_defaults()->group("Control socket (JSON Lines)");
    TextOption(app, "--control", options.control, "PATH", "a Unix socket at PATH" + std::string(kNotOnWindows));
    given.controlTcp = app.add_option("--control-tcp", given.controlTcpPort, "a TCP port on 127.0.0.1")
                           ->type_name("PORT")
                           ->check(CLI::Range(0, 65535).description(""));

    app.option_defaults()->group("Web page");
    TextOption(app, "--http", options.http, "[HOST:]PORT",
               "serve the panel as a web page, with the control protocol over a WebSocket at /ws (HOST 127.0.0.1 "
               "unless given; PORT 0 picks one; the address is printed)");
    TextOption(app, "--http-token", options.httpToken, "TOKEN",
               "the token every request must carry (?token= or Authorization: Bearer); one is made and printed "
               "when HOST is not loopback");
    app.add_flag("--http-read-only", options.httpReadOnly, "the page shows the panel but takes no keys and no faults");
}

void AddOtherOptions(CLI::App& app, Options& options)
{
    app.option_defaults()->group("Other");
    app.add_flag("--synch-required", options.synchRequired, "ask the device to synchronise, single-byte replies");
    app.add_flag("--reply-on-tick", options.replyOnTick,
                 "answer each block at the next 10 ms tick, as the panel's own timing does, instead of at once: a "
                 "device that sends before it has its reply is then refused");
    app.add_flag("--stats", options.stats, "print the link's figures as JSON on standard error");
    app.add_flag("-q,--quiet", options.quiet, "print only failures and errors");
    // Set again so that they come last in the help text.
    app.set_help_flag("-h,--help", "show this text");
    app.set_version_flag("--version", std::string("quillon-run ") + QUILLON_VERSION, "print the version");
    app.footer("Exit status: 0 all scenarios passed, 1 a step failed, 2 bad usage, a bad\n"
               "scenario file or a link that cannot be used, 3 the device --spawn started ended\n"
               "before the run did, 42 (or N) the time-out passed.");
}

// The line as the report tells it.
std::string LineWords(const Options& options)
{
    std::string words = options.demo                  ? "the demo device, in this process"
                        : !options.replay.empty()     ? "a replay of " + options.replay
                        : !options.tcpConnect.empty() ? "TCP to " + options.tcpConnect
                        : !options.tcpListen.empty()  ? "TCP, listening on " + options.tcpListen
                        : options.virtualPort         ? "a new pseudo-terminal"
                                                      : "the port " + options.port;
    return words + (options.lineRate == 0 ? ", unpaced" : ", at " + std::to_string(options.lineRate) + " baud");
}

// The line the options describe; its TCP address is read when it is opened.
LineDescription DescribeLine(const Options& options)
{
    LineDescription described;
    described.lineRate = options.lineRate;
    described.faults = options.faults;
    described.faultSeed = options.faultSeed;
    if (options.virtualPort) {
        described.kind = LineDescription::Kind::Virtual;
        described.path = *options.virtualPort;
    } else if (!options.tcpConnect.empty() || !options.tcpListen.empty()) {
        described.kind =
            options.tcpListen.empty() ? LineDescription::Kind::TcpConnect : LineDescription::Kind::TcpListen;
    } else if (options.demo) {
        described.kind = LineDescription::Kind::Demo;
        if (options.demoBusy) {
            described.demo.pollIntervalMs = 0;
        }
        if (!options.quiet) {
            described.demo.log = [](const std::string& line) {
                std::cerr << "quillon-run: demo device: " << line << "\n";
            };
        }
    } else if (!options.replay.empty()) {
        described.kind = LineDescription::Kind::Replay;
        described.path = options.replay;
        described.speed = options.speed;
    } else {
        described.path = options.port;
    }
    return described;
}

// What the options say together; a usage error's text, or nothing.
std::optional<std::string> CheckOptions(const Options& options)
{
    const int links = !options.port.empty() + options.virtualPort.has_value() + !options.tcpConnect.empty() +
                      !options.tcpListen.empty() + options.demo + !options.replay.empty();
    if (links == 0) {
        return "which link? Give --port, --virtual-port, --tcp-connect, --tcp-listen, --demo or --replay";
    }
    if (std::string error = CheckLineOptions(links, DescribeLine(options), options.reconnect, !options.spawn.empty());
        !error.empty()) {
        return error;
    }
    if (!options.control.empty() && options.controlTcp) {
        return "give only one of --control and --control-tcp";
    }
    if (options.http.empty() && (!options.httpToken.empty() || options.httpReadOnly)) {
        return "--http-token and --http-read-only go with --http";
    }
    return std::nullopt;
}

// Fills options from the command line; an exit status when the run ends here.
std::optional<int> ParseOptions(int argc, char** argv, Options& options)
{
    CLI::App app("Runs the emulated panel with no window: a device drives it over LINK while\n"
                 "scenario files or a test framework press its keys and check its screen.",
                 "quillon-run");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Given given;
    AddLineOptions(app, options, given);
    AddDeviceOptions(app, options);
    AddResultOptions(app, options, given);
    AddOtherOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    if (given.virtualPort->count() > 0) {
        options.virtualPort = given.virtualLink;
    }
    if (given.controlTcp->count() > 0) {
        options.controlTcp = static_cast<std::uint16_t>(given.controlTcpPort);
    }
    options.traceJson = given.traceFormat == "jsonl";
    if (const auto error = CheckOptions(options)) {
        return UsageError(*error);
    }
    return std::nullopt;
}

void DumpText(PanelHost& host)
{
    for (const TextRun& run : host.ScreenText()) {
        std::cout << "page " << run.page << " column " << run.column << " size " << int(run.size)
                  << (run.AllInverse() ? " inverse" : "") << ": " << PanelTextToUtf8(run.text) << "\n";
    }
}

// One run: set up, run, report.
class Run {
public:
    Run(const Options& options, Moment processStart, std::vector<std::string> arguments)
        : options_(options), processStart_(processStart), arguments_(std::move(arguments))
    {
    }
    ~Run()
    {
        // The servers' threads call the control services: they go first.
        server_.reset();
        web_.reset();
        line_.StopDemo();
        if (host_) {
            host_->Stop();
        }
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // 0, or the exit status of a run that cannot start.
    int SetUp();
    // The scenarios, then serving or waiting as the options ask; the status.
    int Go(const std::vector<Scenario>& scenarios);
    // What is told when the run is over; the final status.
    int Report(int status);

private:
    int CheckReportPath();
    // Everything SetUp does once the report's path is known to be writable.
    int Start();
    std::string OpenLine();
    int OpenFiles();
    int OpenControl();
    int OpenWeb();
    int StartDevice();
    int RunScenarios(const std::vector<Scenario>& scenarios);
    bool RunAlone(bool afterScenarios);
    bool StopRequested();
    std::string StatusWords(int status) const;
    RunFacts Facts(int status, bool pictures);
    // On a passing run that keeps its artifacts only on failure, removes the
    // film and the pictures; whether they are kept.
    bool KeepArtifacts(int status);
    void WriteReport(int status, bool pictures);
    void WriteJUnit();

    const Options& options_;
    const Moment processStart_;
    const std::vector<std::string> arguments_;
    const std::chrono::system_clock::time_point wallStart_ = std::chrono::system_clock::now();
    SteadyClock clock_;
    Line line_{clock_};
    std::optional<LineFiles> files_;
    // Made before the host, so it outlives the host's calls into it.
    std::optional<DisplayFilm> film_;
    std::optional<PanelHost> host_;
    std::optional<HostLoop> loop_;
    // Made after the host, so it ends before it.
    std::optional<ReportRecorder> recorder_;
    std::unique_ptr<ControlService> control_;
    std::unique_ptr<LineServer> server_;
    std::unique_ptr<WebServer> web_;
    std::unique_ptr<PortReconnect> reconnect_;
    ChildProcess device_;
    std::string artifactsDir_;
    std::string deviceOutput_;
    Moment deadline_ = Moment::max();
    std::optional<std::uint32_t> timeoutMs_;
    // How the device --spawn started ended, once it has ended on its own.
    std::optional<ChildExit> deviceEnded_;
    // The film: --record-display's, or the report's beside it.
    std::string filmPath_;
    bool ranScenarios_ = false;
    bool timedOut_ = false;
    std::vector<ScenarioResult> results_;
    // What could not be written, with the reason.
    std::vector<std::string> notWritten_;
};

// The report's folder is made and the report opened at once, so that a path
// that cannot be written is refused before any device starts.
int Run::CheckReportPath()
{
    filmPath_ = options_.recordDisplay;
    if (options_.report.empty()) {
        return 0;
    }
    const std::filesystem::path report(options_.report);
    if (filmPath_.empty()) {
        filmPath_ = std::filesystem::path(report).replace_extension(".gif").string();
    }
    if (std::string error; !WriteFile(options_.report, "", error)) {
        std::cerr << "quillon-run: the report: " << error << "\n";
        return kUsageStatus;
    }
    return 0;
}

std::string Run::OpenLine()
{
    LineDescription described = DescribeLine(options_);
    const bool listen = described.kind == LineDescription::Kind::TcpListen;
    if (listen || described.kind == LineDescription::Kind::TcpConnect) {
        std::string error;
        if (!ParseTcpAddress(listen ? options_.tcpListen : options_.tcpConnect, listen ? "127.0.0.1" : "",
                             described.tcp, error)) {
            return error;
        }
        if (listen && described.tcp.port == 0 && !options_.spawn.empty() &&
            options_.spawn.find("{port}") == std::string::npos && !options_.quiet) {
            std::cerr << "quillon-run: --spawn has no {port} and --tcp-listen " << options_.tcpListen
                      << " picks a port: the device cannot know which\n";
        }
    }
    Line::Log log;
    if (!options_.quiet) {
        log.progress = [](const std::string& text) { std::cerr << "quillon-run: " << text << "\n"; };
        log.warning = log.progress;
    }
    std::string error = line_.Open(described, log);
    if (error.empty() && described.kind == LineDescription::Kind::Virtual) {
        std::cout << line_.portForDevice() << std::endl;
    }
    return error;
}

int Run::OpenFiles()
{
    files_.emplace(clock_.NowMicros());
    if (options_.trace != "-") {
        MakeFolderOf(options_.trace);
    }
    MakeFolderOf(options_.record);
    MakeFolderOf(filmPath_);
    std::string error;
    if (!options_.trace.empty() &&
        !files_->OpenTrace(options_.trace, options_.traceJson ? TraceFormat::JsonLines : TraceFormat::Text, error)) {
        std::cerr << "quillon-run: cannot write the trace: " << error << "\n";
        return kUsageStatus;
    }
    if (!options_.record.empty() && !files_->OpenRecording(options_.record, error)) {
        std::cerr << "quillon-run: cannot write the recording: " << error << "\n";
        return kUsageStatus;
    }
    if (files_->inUse()) {
        host_->AddListener([this](const LinkEvent& event) { files_->Take(event); });
    }
    if (!filmPath_.empty()) {
        film_.emplace(host_->engine().display());
        if (!film_->Open(filmPath_, clock_.NowMicros(), error)) {
            std::cerr << "quillon-run: cannot write the display film: " << error << "\n";
            return kUsageStatus;
        }
        film_->Follow(*host_, clock_);
    }
    return 0;
}

int Run::OpenControl()
{
    control_ = std::make_unique<ControlService>(*host_, [this](LineServer::ClientId client, const std::string& text) {
        if (server_) {
            server_->Send(client, text);
        }
    });
    if (options_.control.empty() && !options_.controlTcp) {
        return 0;
    }
    std::string error;
    std::uint16_t bound = 0;
    server_ = options_.controlTcp ? ListenOnLocalTcp(*options_.controlTcp, *control_, bound, error)
                                  : ListenOnUnixSocket(options_.control, *control_, error);
    if (!server_) {
        std::cerr << "quillon-run: control socket: " << error << "\n";
        return kUsageStatus;
    }
    if (!options_.quiet) {
        std::cerr << "quillon-run: control socket on "
                  << (options_.controlTcp ? "127.0.0.1:" + std::to_string(bound) : options_.control) << "\n";
    }
    return 0;
}

// The web server's address is printed even to a quiet run: nobody could
// reach it otherwise, and a token made here is known nowhere else.
int Run::OpenWeb()
{
    if (options_.http.empty()) {
        return 0;
    }
    WebServerOptions web;
    web.token = options_.httpToken;
    web.readOnly = options_.httpReadOnly;
    std::string told;
    std::string error;
    web_ = ServeWeb(*host_, options_.http, web, told, error);
    if (!web_) {
        std::cerr << "quillon-run: " << error << "\n";
        return kUsageStatus;
    }
    std::cerr << "quillon-run: " << told << std::endl;
    return 0;
}

// Started once the panel answers and, for --tcp-listen, its socket is open,
// so the device never finds nobody there.
int Run::StartDevice()
{
    if (std::string error = line_.StartDemo(); !error.empty()) {
        std::cerr << "quillon-run: " << error << "\n";
        return kUsageStatus;
    }
    if (options_.spawn.empty()) {
        return 0;
    }
    std::error_code ignored;
    std::filesystem::create_directories(artifactsDir_, ignored);
    std::string error;
    if (!device_.Start(SubstitutePort(options_.spawn, line_.portForDevice()), deviceOutput_, error)) {
        std::cerr << "quillon-run: --spawn: " << error << "\n";
        return kUsageStatus;
    }
    if (!options_.quiet) {
        std::cerr << "quillon-run: started the device; its output goes to " << deviceOutput_ << "\n";
    }
    return 0;
}

int Run::SetUp()
{
    if (const int status = CheckReportPath(); status != 0) {
        return status;
    }
    const int status = Start();
    if (status != 0 && !options_.report.empty()) {
        // A run refused at its start leaves no empty report behind.
        std::error_code ignored;
        std::filesystem::remove(options_.report, ignored);
    }
    return status;
}

int Run::Start()
{
    if (const std::string error = OpenLine(); !error.empty()) {
        std::cerr << "quillon-run: " << error << "\n";
        return kUsageStatus;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    // An output whose reader has gone ends the run the same way, so that the
    // device is ended with it.
    IgnoreBrokenPipe();
    host_.emplace(line_.panelEnd(), clock_, processStart_);
    host_->SetFaults(&line_.faults());
    loop_.emplace(*host_);
    if (!options_.report.empty()) {
        recorder_.emplace(*host_, clock_, options_.report + ".recent");
    }
    if (const int status = OpenFiles(); status != 0) {
        return status;
    }
    if (const int status = OpenControl(); status != 0) {
        return status;
    }
    if (const int status = OpenWeb(); status != 0) {
        return status;
    }
    const auto slash = options_.junit.find_last_of('/');
    artifactsDir_ = !options_.artifacts.empty()  ? options_.artifacts
                    : slash != std::string::npos ? options_.junit.substr(0, slash)
                                                 : ".";
    deviceOutput_ = artifactsDir_ + "/" + kDeviceOutputName;
    host_->engine().SetReplyOnTick(options_.replyOnTick);
    if (line_.runLine() == nullptr) {
        host_->engine().TellPortChange(PortChange::Opened, static_cast<int>(line_.serial().droppedOnOpen()));
    }
    host_->Start(options_.synchRequired);
    if (options_.reconnect) {
        reconnect_ = std::make_unique<PortReconnect>(
            line_.serial(), [this] { return options_.port; },
            [this](PortChange change) { host_->engine().TellPortChange(change); });
        host_->AddTurnHook([this] { reconnect_->Check(); });
    }
    return StartDevice();
}

bool Run::StopRequested()
{
    if (!deviceEnded_ && device_.running()) {
        deviceEnded_ = device_.Poll();
    }
    return stopSignal != 0 || StandardOutputClosed() || control_->quitRequested() || deviceEnded_.has_value();
}

int Run::RunScenarios(const std::vector<Scenario>& scenarios)
{
    RunSettings settings;
    settings.updateGoldens = options_.updateGoldens;
    settings.quiet = options_.quiet;
    settings.deadline = deadline_;
    settings.stopRequested = [this] { return StopRequested(); };
    settings.artifactsDir = artifactsDir_;
    if (recorder_) {
        settings.stepEnded = [this](const StepEnd& end) { recorder_->StepEnded(end); };
    }
    ScenarioRunner runner(*loop_, settings);
    std::vector<ScenarioResult>& results = results_;
    ranScenarios_ = true;
    for (const Scenario& scenario : scenarios) {
        results.push_back(runner.Run(scenario));
        if (results.back().outcome == Outcome::TimedOut || results.back().outcome == Outcome::Stopped) {
            break;
        }
    }
    // The scenario the device's end cut short fails with it.
    if (deviceEnded_ && results.back().outcome == Outcome::Stopped) {
        results.back().outcome = Outcome::Failed;
        results.back().message += "; " + DeviceEndedText(*deviceEnded_, deviceOutput_);
    }
    if (!options_.quiet) {
        const auto passed = std::count_if(results.begin(), results.end(), [](const ScenarioResult& result) {
            return result.outcome == Outcome::Passed;
        });
        std::cerr << "quillon-run: " << passed << " passed, " << (static_cast<long>(results.size()) - passed)
                  << " failed\n";
    }
    return ExitStatus(results, options_.timeoutExitCode);
}

// What a run does besides its scenarios: a replay played, serving until
// stopped, or the screen waited for; false when the time-out passed first.
bool Run::RunAlone(bool afterScenarios)
{
    const bool serving = (server_ != nullptr || web_ != nullptr) && !afterScenarios;
    const auto stop = [this] { return StopRequested(); };
    if (line_.replaying() && !afterScenarios && !serving && !options_.runForMs) {
        // A replay alone ends once it has been played and answered.
        std::optional<Moment> played;
        return loop_->TurnUntil(
            [&] {
                const Moment now = std::chrono::steady_clock::now();
                if (!played && line_.replayFinished()) {
                    played = now;
                }
                return stop() || (played && now - *played >= kReplayTail);
            },
            deadline_);
    }
    if (serving || options_.runForMs || (!afterScenarios && !options_.dumpText)) {
        // Serve until stopped: by a signal, a quit command, --run-for or the time-out.
        const Moment end =
            options_.runForMs ? processStart_ + std::chrono::milliseconds(*options_.runForMs) : deadline_;
        loop_->TurnUntil(stop, std::min(end, deadline_));
        return stop() || std::chrono::steady_clock::now() < deadline_ || (options_.runForMs && deadline_ > end);
    }
    if (afterScenarios) {
        return true;
    }
    // --dump-text alone: wait for the screen to show something and settle.
    std::uint64_t seen = 0;
    Moment changed = std::chrono::steady_clock::now();
    return loop_->TurnUntil(
        [&] {
            const std::uint64_t count = host_->engine().display().changeCount();
            const Moment now = std::chrono::steady_clock::now();
            if (count != seen) {
                seen = count;
                changed = now;
            }
            return stop() || (!host_->ScreenText().empty() && now - changed >= kSettleTime);
        },
        deadline_);
}

int Run::Go(const std::vector<Scenario>& scenarios)
{
    timeoutMs_ = options_.timeoutMs  ? options_.timeoutMs
                 : scenarios.empty() ? std::nullopt
                                     : std::optional(kScenarioTimeoutMs);
    deadline_ = timeoutMs_ ? processStart_ + std::chrono::milliseconds(*timeoutMs_) : Moment::max();
    bool timedOut = false;
    int status = 0;
    if (!scenarios.empty()) {
        status = RunScenarios(scenarios);
    }
    if (status != options_.timeoutExitCode || scenarios.empty()) {
        timedOut = !RunAlone(!scenarios.empty());
    }
    if (timedOut) {
        std::cerr << "quillon-run: the time-out of " << timeoutMs_.value_or(0) << " ms passed\n";
        status = options_.timeoutExitCode;
    }
    timedOut_ = timedOut || std::any_of(results_.begin(), results_.end(), [](const ScenarioResult& result) {
                    return result.outcome == Outcome::TimedOut;
                });
    return status;
}

std::string Run::StatusWords(int status) const
{
    if (deviceEnded_) {
        return "the device ended before the run did: " + deviceEnded_->Describe();
    }
    if (stopSignal == SIGTERM || stopSignal == SIGINT) {
        return std::string("ended by ") + (stopSignal == SIGTERM ? "SIGTERM" : "SIGINT") + " before it was over";
    }
    if (timedOut_) {
        return "the time-out of " + std::to_string(timeoutMs_.value_or(0)) + " ms passed";
    }
    if (status == 0) {
        return ranScenarios_ ? "every scenario passed" : "passed";
    }
    return std::any_of(results_.begin(), results_.end(),
                       [](const ScenarioResult& result) { return result.outcome == Outcome::Failed; })
               ? "a step failed"
               : "stopped before it was over";
}

RunFacts Run::Facts(int status, bool pictures)
{
    RunFacts facts;
    facts.commandLine = HideSecrets(arguments_);
    facts.version = QUILLON_VERSION;
    facts.line = LineWords(options_);
    for (const FaultRule& rule : options_.faults) {
        facts.faults.push_back(FaultRuleText(rule));
    }
    facts.seed = line_.faults().drewAtRandom() ? std::to_string(line_.faults().seed()) : "none drawn at random";
    facts.started = UtcText(wallStart_);
    facts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart_).count();
    facts.status = status;
    facts.statusWords = StatusWords(status);
    if (pictures && film_) {
        const std::filesystem::path folder = std::filesystem::absolute(options_.report).parent_path();
        facts.film = std::filesystem::absolute(filmPath_).lexically_relative(folder).generic_string();
    }
    if (!options_.spawn.empty()) {
        facts.deviceLog = "The device's output is in " + deviceOutput_;
        facts.deviceLogTail = LastLines(deviceOutput_, kDeviceTailLines);
    }
    facts.notWritten = notWritten_;
    return facts;
}

bool Run::KeepArtifacts(int status)
{
    if (status != 0 || !options_.keepOnFailureOnly) {
        return true;
    }
    std::error_code ignored;
    if (film_) {
        std::filesystem::remove(filmPath_, ignored);
    }
    for (const ScenarioResult& result : results_) {
        for (const std::string& picture : result.pictures) {
            std::filesystem::remove(picture, ignored);
        }
    }
    return false;
}

void Run::WriteReport(int status, bool pictures)
{
    if (!recorder_) {
        return;
    }
    std::vector<ScenarioRecord> records = recorder_->scenarios();
    if (!pictures) {
        DropPictures(records);
    }
    RunFacts facts = Facts(status, pictures);
    if (pictures) {
        facts.recentFilm = recorder_->FinishFilm(facts.recentSeconds);
    }
    const std::string html = HtmlReport(facts, results_, records);
    if (std::string error; !WriteFile(options_.report, html, error)) {
        std::cerr << "quillon-run: the report: " << error << "\n";
    }
}

void Run::WriteJUnit()
{
    if (options_.junit.empty() || !ranScenarios_) {
        return;
    }
    std::vector<std::pair<std::string, std::string>> properties;
    if (line_.faults().drewAtRandom()) {
        properties.emplace_back("fault-seed", std::to_string(line_.faults().seed()));
    }
    std::vector<std::string> runFiles;
    for (const std::string& file : {options_.report, filmPath_}) {
        if (!file.empty()) {
            runFiles.push_back(file);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart_).count();
    std::string error;
    if (!WriteFile(options_.junit, JUnitReport(results_, seconds, properties, runFiles), error)) {
        std::cerr << "quillon-run: " << error << "\n";
    }
}

int Run::Report(int status)
{
    // The film ends with the run, not with the device's ending.
    if (film_ && !film_->Finish(clock_.NowMicros())) {
        std::cerr << "quillon-run: cannot write the display film " << filmPath_ << "\n";
        notWritten_.push_back("the display film " + filmPath_ + " (not in full)");
    }
    if (deviceEnded_) {
        std::cerr << "quillon-run: " << DeviceEndedText(*deviceEnded_, deviceOutput_) << "\n";
        status = kDeviceEndedStatus;
    } else if (const std::optional<ChildExit> ended = device_.End(); ended && !options_.quiet) {
        std::cerr << "quillon-run: the device was ended: " << ended->Describe() << "\n";
    }
    // A failure under faults drawn at random can be repeated only with its
    // seed, so it is told even to a quiet run.
    if (status != 0 && line_.faults().drewAtRandom()) {
        const std::string seed = std::to_string(line_.faults().seed());
        std::cerr << "quillon-run: faults at random with seed " << seed << "; --fault-seed " << seed
                  << " repeats them\n";
    }
    if (line_.tcp() != nullptr && std::chrono::steady_clock::now() >= deadline_) {
        if (const std::string waited = line_.tcp()->WaitingFor(); !waited.empty()) {
            std::cerr << "quillon-run: no device by the time-out: waited for " << waited << "\n";
        }
    }
    server_.reset();
    web_.reset();
    if (options_.dumpText) {
        DumpText(*host_);
    }
    line_.StopDemo();
    host_->Stop();
    files_->Close();
    if (options_.stats) {
        std::cerr << StatsJson(*host_, line_) << "\n";
    }
    const bool kept = KeepArtifacts(status);
    WriteReport(status, kept);
    WriteJUnit();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const Moment processStart = std::chrono::steady_clock::now();
    ShowUtf8OnConsole();
    Options options;
    if (const auto status = ParseOptions(argc, argv, options)) {
        return *status;
    }
    std::vector<Scenario> scenarios;
    for (const std::string& path : options.scenarios) {
        std::string error;
        auto scenario = LoadScenario(path, options.updateGoldens, error);
        if (!scenario) {
            std::cerr << "quillon-run: " << error << "\n";
            return kUsageStatus;
        }
        scenarios.push_back(std::move(*scenario));
    }
    Run run(options, processStart, std::vector<std::string>(argv, argv + argc));
    if (const int status = run.SetUp(); status != 0) {
        return status;
    }
    return run.Report(run.Go(scenarios));
}
