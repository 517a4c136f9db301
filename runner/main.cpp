// quillon-run: the emulated panel with no window, for a firmware team's CI.
// It connects the panel to a device, runs scenario files against it (keys,
// waits for text or frames, screen comparisons), and serves a control socket
// for test frameworks.
#include <algorithm>
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
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "link/fault_port.h"
#include "link/fault_rules.h"
#include "link/paced_port.h"
#include "runner/control_service.h"
#include "runner/junit.h"
#include "runner/panel_host.h"
#include "runner/picture.h"
#include "runner/scenario.h"
#include "runner/scenario_runner.h"
#include "serial/child_process.h"
#include "serial/com_ports.h"
#include "serial/line_server.h"
#include "serial/memory_line.h"
#include "serial/port_reconnect.h"
#include "serial/port_setup.h"
#include "serial/serial_port.h"
#include "serial/standard_output.h"
#include "serial/tcp_port.h"
#include "serial/virtual_port.h"
#include "tools/demo/demo_device.h"
#include "trace/line_writer.h"
#include "trace/recording.h"
#include "trace/replay_port.h"
#include "trace/trace_rows.h"

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
// A replay ends this long after its last byte, so the last block is answered.
constexpr std::chrono::milliseconds kReplayTail{200};

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int)
{
    stopSignal = 1;
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
    std::vector<std::string> scenarios;
    std::optional<std::uint32_t> timeoutMs;
    int timeoutExitCode = 42;
    std::string junit;
    std::string artifacts;
    bool updateGoldens = false;
    bool dumpText = false;
    std::optional<std::uint32_t> runForMs;
    std::string control;
    std::optional<std::uint16_t> controlTcp;
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

// Fills options from the command line; an exit status when the run ends here.
std::optional<int> ParseOptions(int argc, char** argv, Options& options)
{
    CLI::App app("Runs the emulated panel with no window: a device drives it over LINK while\n"
                 "scenario files or a test framework press its keys and check its screen.",
                 "quillon-run");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    const auto nonEmpty = Needs([](const std::string& text) { return !text.empty(); }, "needs a value");
    const auto duration = Needs([](const std::string& text) { return ParseDuration(text).has_value(); },
                                "needs a duration such as 30s or 500ms");
    // An option with a value of the type given; the text ones must not be empty.
    const auto text = [&](const char* name, std::string& into, const char* type, const std::string& help) {
        return app.add_option(name, into, help)->type_name(type)->check(nonEmpty);
    };
    const auto durationInto = [&](const char* name, std::optional<std::uint32_t>& into, const char* help) {
        return app
            .add_option_function<std::string>(
                name, [&into](const std::string& value) { into = ParseDuration(value); }, help)
            ->type_name("DURATION")
            ->check(duration);
    };
    const auto number = [&](const char* name, auto& into, const char* type, const char* help, int highest) {
        return app.add_option(name, into, help)->type_name(type)->check(CLI::Range(0, highest).description(""));
    };
    std::string virtualPort;
    std::string traceFormat = "text";
    int controlTcp = 0;

    app.option_defaults()->group("LINK, one of");
    text("--port", options.port, "PATH", kPortHelp);
    app.add_flag("--reconnect", options.reconnect,
                 "with --port: when the line hangs up (the device's end closed, a USB adapter pulled), open PATH "
                 "again every second until it answers, and go on");
    CLI::Option* virtualPortOption =
        app.add_option("--virtual-port", virtualPort,
                       "make a pseudo-terminal for the device, print its path, and make LINK a symbolic link to it" +
                           std::string(kNotOnWindows))
            ->expected(0, 1)
            ->type_name("[LINK]");
    text("--tcp-connect", options.tcpConnect, "HOST:PORT",
         "connect to a device whose serial line is a TCP server (an emulator's -serial tcp:...,server)");
    text("--tcp-listen", options.tcpListen, "[HOST:]PORT",
         "wait for the device to connect (HOST 127.0.0.1 unless given)");
    app.add_flag("--demo", options.demo, "the built-in demo device, in this process");
    app.add_flag("--demo-busy", options.demoBusy,
                 "with --demo: the device asks for the keys without pause, keeping the line busy (for load tests)");
    text("--replay", options.replay, "FILE",
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

    app.option_defaults()->group("The device");
    text("--spawn", options.spawn, "COMMAND",
         std::string("start the device with ") + kShell +
             " once the panel is ready, {port} replaced by the port, and end it when "
             "the run ends; its output goes to device.log in the artifacts folder, whose last lines are told when "
             "the device ends first (exit status 3)");
    app.add_option_function<std::string>(
           "--line-rate",
           [&options](const std::string& value) {
               std::string ignored;
               options.lineRate = ParseLineRate(value, ignored).value_or(0);
           },
           "pace the bytes both ways as a cable at BAUD with 10 bits a byte; 0 (the default) as fast as the link "
           "goes; a serial device paces in its hardware and is left as it is")
        ->type_name("BAUD")
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return ParseLineRate(value, error) ? std::string() : error;
            },
            ""));

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
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return ParseFaultRule(value, error) ? std::string() : error;
            },
            ""));
    app.add_option_function<std::uint64_t>(
           "--fault-seed", [&options](std::uint64_t seed) { options.faultSeed = seed; },
           "the seed of the faults given with p=, so that a run can be repeated exactly (a new one each run, "
           "printed, unless given)")
        ->type_name("S");

    app.option_defaults()->group("Scenarios and results");
    app.add_option("--scenario", options.scenarios, "run a scenario file (YAML); may be repeated")
        ->type_name("FILE")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(nonEmpty);
    durationInto("--timeout", options.timeoutMs,
                 "end the run after DURATION (30s with scenarios, none otherwise), such as 500ms or 2s");
    number("--timeout-exit-code", options.timeoutExitCode, "N", "exit status when the time-out passes (42)", 255);
    text("--junit", options.junit, "FILE", "write a JUnit XML report");
    text("--artifacts", options.artifacts, "DIR",
         "where screenshots and diff pictures go (the JUnit file's folder, or the current folder)");
    app.add_flag("--update-goldens", options.updateGoldens,
                 "write the screen into each expect-screen file instead of comparing");
    app.add_flag("--dump-text", options.dumpText, "print the text on the screen when the run ends");
    durationInto("--run-for", options.runForMs, "end the run after DURATION, successfully");
    text("--trace", options.trace, "FILE", "write every frame and reply as they happen (- for standard output)");
    app.add_option("--trace-format", traceFormat, "readable text (the default) or JSON Lines")
        ->type_name("text|jsonl")
        ->check(CLI::IsMember({"text", "jsonl"}).description(""));

    app.option_defaults()->group("Control socket (JSON Lines)");
    text("--control", options.control, "PATH", "a Unix socket at PATH" + std::string(kNotOnWindows));
    CLI::Option* controlTcpOption = number("--control-tcp", controlTcp, "PORT", "a TCP port on 127.0.0.1", 65535);

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

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    if (virtualPortOption->count() > 0) {
        options.virtualPort = virtualPort;
    }
    if (controlTcpOption->count() > 0) {
        options.controlTcp = static_cast<std::uint16_t>(controlTcp);
    }
    options.traceJson = traceFormat == "jsonl";

    const int links = !options.port.empty() + options.virtualPort.has_value() + !options.tcpConnect.empty() +
                      !options.tcpListen.empty() + options.demo + !options.replay.empty();
    if (links != 1) {
        return UsageError(links == 0 ? "which link? Give --port, --virtual-port, --tcp-connect, --tcp-listen, "
                                       "--demo or --replay"
                                     : "give only one of --port, --virtual-port, --tcp-connect, --tcp-listen, "
                                       "--demo, --replay");
    }
    if (options.reconnect && options.port.empty()) {
        return UsageError("--reconnect opens a --port again after it hangs up; the other links have no such path");
    }
    if (!options.control.empty() && options.controlTcp) {
        return UsageError("give only one of --control and --control-tcp");
    }
    if (!options.spawn.empty() && (options.demo || !options.replay.empty())) {
        return UsageError("--spawn starts a device for --port, --virtual-port, --tcp-connect or --tcp-listen; "
                          "--demo and --replay have theirs");
    }
    if (options.lineRate != 0 && !options.replay.empty()) {
        return UsageError("--line-rate does not go with --replay: a recording is played at the times it was "
                          "recorded with");
    }
    return std::nullopt;
}

// The link to the device, kept alive for the whole run.
struct Link {
    std::unique_ptr<MemoryLine> line;
    std::unique_ptr<VirtualPort> virtualPort;
    std::unique_ptr<SerialPort> serial;
    std::unique_ptr<TcpPort> tcp;
    std::unique_ptr<ReplayPort> replay;
    SteadyClock demoClock;
    // Between the panel and the line when --line-rate asks for it.
    std::unique_ptr<PacedPort> paced;
    // Between the panel and the (paced) line, for faults asked for now or
    // later by a scenario or the control socket.
    std::unique_ptr<FaultPort> faults;
    PanelPort* panelPort = nullptr;
    // What {port} stands for in the --spawn command.
    std::string portForDevice;
    std::unique_ptr<demo::DemoDevice> demo;
    std::jthread demoThread;
};

// "cannot use PATH (set-up step N failed: what it could not do): the
// system's reason".
std::string PortFailure(const std::string& path, int step, int error)
{
    std::string text =
        "cannot use " + path + " (set-up step " + std::to_string(step) + " failed: " + SetupStepText(step) + ")";
    if (error == 0) {
        return text;
    }
    return text + ": " + (IsMissingPortError(error) ? MissingPortText(FoundComPorts()) : SystemErrorText(error));
}

// An empty text when the line is up, otherwise why not.
std::string OpenLine(const Options& options, Link& link)
{
    if (options.demo) {
        link.line = std::make_unique<MemoryLine>();
        link.panelPort = &link.line->panelEnd();
        return {};
    }
    if (!options.replay.empty()) {
        Recording recording = ReadRecordingFile(options.replay);
        if (recording.problem) {
            return DescribeProblem(options.replay, *recording.problem);
        }
        link.replay = std::make_unique<ReplayPort>(std::move(recording.chunks), link.demoClock, options.speed);
        link.panelPort = link.replay.get();
        return {};
    }
    if (!options.tcpConnect.empty() || !options.tcpListen.empty()) {
        const bool listen = !options.tcpListen.empty();
        TcpAddress address;
        std::string error;
        if (!ParseTcpAddress(listen ? options.tcpListen : options.tcpConnect, listen ? "127.0.0.1" : "", address,
                             error)) {
            return error;
        }
        link.tcp = std::make_unique<TcpPort>();
        if (!options.quiet) {
            link.tcp->SetLog([](const std::string& line) { std::cerr << "quillon-run: " << line << "\n"; });
        }
        error = listen ? link.tcp->Listen(address) : link.tcp->Connect(address);
        if (!error.empty()) {
            return error;
        }
        link.portForDevice = std::to_string(listen ? link.tcp->LocalPort() : address.port);
        if (listen && address.port == 0 && !options.spawn.empty() &&
            options.spawn.find("{port}") == std::string::npos && !options.quiet) {
            std::cerr << "quillon-run: --spawn has no {port} and --tcp-listen " << options.tcpListen
                      << " picks a port: the device cannot know which\n";
        }
        if (listen && !options.quiet) {
            std::cerr << "quillon-run: waiting for the device on " << address.host << ":" << link.portForDevice << "\n";
        }
        link.panelPort = link.tcp.get();
        return {};
    }
    link.serial = std::make_unique<SerialPort>();
    int failedStep = 0;
    if (options.virtualPort) {
        link.virtualPort = std::make_unique<VirtualPort>();
        if (!link.virtualPort->Create(*options.virtualPort)) {
            return "cannot make a virtual port: " + link.virtualPort->ErrorText();
        }
        link.portForDevice = link.virtualPort->PathForDevice();
        failedStep = link.serial->OpenVirtualPort(*link.virtualPort);
        std::cout << link.portForDevice << std::endl;
    } else {
        link.portForDevice = options.port;
        failedStep = link.serial->OpenCommPort(options.port);
    }
    if (failedStep != 0) {
        const std::string path = options.virtualPort ? link.virtualPort->DevicePath() : options.port;
        return PortFailure(path, failedStep, link.serial->lastOpenError());
    }
    link.panelPort = link.serial.get();
    return {};
}

std::string SeedText(std::uint64_t seed)
{
    return "faults at random with seed " + std::to_string(seed) + "; --fault-seed " + std::to_string(seed) +
           " repeats them";
}

// The seed given, or a new one, told when a rule draws at random so that the
// run can be repeated.
std::uint64_t FaultSeed(std::optional<std::uint64_t> given, const std::vector<FaultRule>& rules, bool quiet)
{
    if (given) {
        return *given;
    }
    const std::uint64_t seed = NewFaultSeed();
    if (DrawsAtRandom(rules) && !quiet) {
        std::cerr << "quillon-run: " << SeedText(seed) << "\n";
    }
    return seed;
}

// The line, paced when --line-rate asks for it on a line that carries bytes
// at the host's speed: TCP, the demo's in-process line, a pseudo-terminal. A
// serial device paces in its hardware; pacing it again would add a byte time
// each way.
std::string OpenLink(const Options& options, Link& link)
{
    if (std::string error = OpenLine(options, link); !error.empty()) {
        return error;
    }
    if (options.lineRate != 0 && !options.port.empty()) {
        if (!options.quiet) {
            std::cerr << "quillon-run: --line-rate leaves " << options.port
                      << " as it is: a serial device paces the line in its hardware\n";
        }
    } else if (options.lineRate != 0) {
        link.paced = std::make_unique<PacedPort>(*link.panelPort, link.demoClock, options.lineRate);
        link.paced->Start();
        link.panelPort = link.paced.get();
    }
    link.faults = std::make_unique<FaultPort>(*link.panelPort, link.demoClock);
    link.faults->SetSeed(FaultSeed(options.faultSeed, options.faults, options.quiet));
    for (const FaultRule& rule : options.faults) {
        link.faults->Add(rule);
    }
    link.faults->Start();
    link.panelPort = link.faults.get();
    return {};
}

void StartDemo(const Options& options, Link& link)
{
    demo::DemoOptions demoOptions;
    if (options.demoBusy) {
        demoOptions.pollIntervalMs = 0;
    }
    if (!options.quiet) {
        demoOptions.log = [](const std::string& line) { std::cerr << "quillon-run: demo device: " << line << "\n"; };
    }
    link.demo = std::make_unique<demo::DemoDevice>(link.line->deviceEnd(), link.demoClock, demoOptions);
    link.demoThread = std::jthread([device = link.demo.get()](std::stop_token stop) { device->Run(stop); });
}

void DumpText(PanelHost& host)
{
    for (const TextRun& run : host.ScreenText()) {
        std::cout << "page " << run.page << " column " << run.column << " size " << int(run.size)
                  << (run.AllInverse() ? " inverse" : "") << ": " << PanelTextToUtf8(run.text) << "\n";
    }
}

Json FaultCounts(const LinkStats& stats)
{
    Json counts = Json::object();
    for (std::size_t kind = 0; kind < stats.faults.size(); ++kind) {
        if (stats.faults[kind] != 0) {
            counts[FaultKindName(static_cast<FaultKind>(kind))] = stats.faults[kind];
        }
    }
    return counts;
}

void PrintStats(const PanelHost& host, const Link& link)
{
    const LinkStats& stats = host.stats();
    Json json = {{"replies", stats.replies},
                 {"error_replies", stats.errorReplies},
                 {"timeout_replies", stats.timeoutReplies},
                 {"frames", stats.framesExecuted},
                 {"first_reply_ms", JsonNumber(stats.firstReplyMs)},
                 {"ticks", stats.ticks},
                 {"late_ticks", stats.lateTicks},
                 {"worst_tick_lateness_ms", JsonNumber(stats.worstTickLatenessMs)},
                 {"worst_tick_work_ms", JsonNumber(stats.worstTickWorkMs)},
                 {"events_dropped", stats.eventsDropped},
                 {"bytes_received", stats.bytesReceived},
                 {"refused_bytes", stats.refusedBytes},
                 {"receive_errors", stats.receiveErrors},
                 {"faults", FaultCounts(stats)},
                 {"fault_seed", link.faults->seed()},
                 {"cpu_s", JsonNumber(static_cast<double>(std::clock()) / CLOCKS_PER_SEC)}};
    if (link.demo) {
        const demo::DemoStatus demo = link.demo->Status();
        json["demo_blocks"] = demo.blocksSent;
        json["demo_replies"] = demo.replies;
        json["demo_missed_replies"] = demo.timeouts;
        json["demo_error_replies"] = demo.errorReplies;
    }
    std::cerr << DumpJson(json) << "\n";
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

    Link link;
    if (const std::string error = OpenLink(options, link); !error.empty()) {
        std::cerr << "quillon-run: " << error << "\n";
        return kUsageStatus;
    }

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    // An output whose reader has gone ends the run the same way, below, so
    // that the device is ended with it.
    IgnoreBrokenPipe();

    SteadyClock clock;
    PanelHost host(*link.panelPort, clock, processStart);
    host.SetFaults(link.faults.get());
    LineWriter traceOut;
    std::unique_ptr<TraceBuilder> tracer;
    if (!options.trace.empty()) {
        if (options.trace != "-") {
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(options.trace).parent_path(), ignored);
        }
        std::string error;
        if (!traceOut.Open(options.trace, error)) {
            std::cerr << "quillon-run: cannot write the trace: " << error << "\n";
            return kUsageStatus;
        }
        tracer = std::make_unique<TraceBuilder>(clock.NowMicros(), [&](const TraceRow& row) {
            traceOut.Write(options.traceJson ? FormatJsonRow(row) : FormatTextRow(row));
        });
        host.AddListener([&tracer](const LinkEvent& event) { tracer->OnLinkEvent(event); });
    }
    std::unique_ptr<LineServer> server;
    ControlService control(host, [&server](LineServer::ClientId client, const std::string& line) {
        if (server) {
            server->Send(client, line);
        }
    });
    if (!options.control.empty() || options.controlTcp) {
        std::string error;
        std::uint16_t bound = 0;
        server = options.controlTcp ? ListenOnLocalTcp(*options.controlTcp, control, bound, error)
                                    : ListenOnUnixSocket(options.control, control, error);
        if (!server) {
            std::cerr << "quillon-run: control socket: " << error << "\n";
            return kUsageStatus;
        }
        if (!options.quiet) {
            std::cerr << "quillon-run: control socket on "
                      << (options.controlTcp ? "127.0.0.1:" + std::to_string(bound) : options.control) << "\n";
        }
    }

    const auto slash = options.junit.find_last_of('/');
    const std::string artifactsDir = !options.artifacts.empty()   ? options.artifacts
                                     : slash != std::string::npos ? options.junit.substr(0, slash)
                                                                  : ".";
    host.engine().SetReplyOnTick(options.replyOnTick);
    if (link.serial) {
        host.engine().TellPortChange(PortChange::Opened, static_cast<int>(link.serial->droppedOnOpen()));
    }
    host.Start(options.synchRequired);
    std::unique_ptr<PortReconnect> reconnect;
    if (options.reconnect) {
        reconnect = std::make_unique<PortReconnect>(
            *link.serial, [&options] { return options.port; },
            [&host](PortChange change) { host.engine().TellPortChange(change); });
        host.AddTurnHook([&reconnect] { reconnect->Check(); });
    }
    if (options.demo) {
        StartDemo(options, link);
    }
    // Started once the panel answers and, for --tcp-listen, its socket is
    // open, so the device never finds nobody there.
    ChildProcess device;
    const std::string deviceOutput = artifactsDir + "/" + kDeviceOutputName;
    if (!options.spawn.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(artifactsDir, ignored);
        std::string error;
        if (!device.Start(SubstitutePort(options.spawn, link.portForDevice), deviceOutput, error)) {
            std::cerr << "quillon-run: --spawn: " << error << "\n";
            host.Stop();
            return kUsageStatus;
        }
        if (!options.quiet) {
            std::cerr << "quillon-run: started the device; its output goes to " << deviceOutput << "\n";
        }
    }

    const std::optional<std::uint32_t> timeoutMs = options.timeoutMs   ? options.timeoutMs
                                                   : scenarios.empty() ? std::nullopt
                                                                       : std::optional(kScenarioTimeoutMs);
    const Moment deadline = timeoutMs ? processStart + std::chrono::milliseconds(*timeoutMs) : Moment::max();
    // How the device --spawn started ended, once it has ended on its own.
    std::optional<ChildExit> deviceEnded;
    const auto stopRequested = [&] {
        if (!deviceEnded && device.running()) {
            deviceEnded = device.Poll();
        }
        return stopSignal != 0 || StandardOutputClosed() || control.quitRequested() || deviceEnded.has_value();
    };

    int status = 0;
    bool timedOut = false;
    if (!scenarios.empty()) {
        RunSettings settings;
        settings.updateGoldens = options.updateGoldens;
        settings.quiet = options.quiet;
        settings.deadline = deadline;
        settings.stopRequested = stopRequested;
        settings.artifactsDir = artifactsDir;
        ScenarioRunner runner(host, settings);
        std::vector<ScenarioResult> results;
        for (const Scenario& scenario : scenarios) {
            results.push_back(runner.Run(scenario));
            if (results.back().outcome == Outcome::TimedOut || results.back().outcome == Outcome::Stopped) {
                break;
            }
        }
        // The scenario the device's end cut short fails with it.
        if (deviceEnded && results.back().outcome == Outcome::Stopped) {
            results.back().outcome = Outcome::Failed;
            results.back().message += "; " + DeviceEndedText(*deviceEnded, deviceOutput);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart).count();
        if (!options.junit.empty()) {
            std::string error;
            std::vector<std::pair<std::string, std::string>> properties;
            if (link.faults->drewAtRandom()) {
                properties.emplace_back("fault-seed", std::to_string(link.faults->seed()));
            }
            if (!WriteFile(options.junit, JUnitReport(results, seconds, properties), error)) {
                std::cerr << "quillon-run: " << error << "\n";
            }
        }
        status = ExitStatus(results, options.timeoutExitCode);
        if (!options.quiet) {
            int passed = 0;
            for (const ScenarioResult& result : results) {
                passed += result.outcome == Outcome::Passed ? 1 : 0;
            }
            std::cerr << "quillon-run: " << passed << " passed, " << (results.size() - static_cast<std::size_t>(passed))
                      << " failed\n";
        }
    }
    const bool serving = server != nullptr && scenarios.empty();
    if (link.replay && scenarios.empty() && !serving && !options.runForMs) {
        // A replay alone ends once it has been played and answered.
        std::optional<Moment> played;
        const bool ended = host.TurnUntil(
            [&] {
                const Moment now = std::chrono::steady_clock::now();
                if (!played && link.replay->finished()) {
                    played = now;
                }
                return stopRequested() || (played && now - *played >= kReplayTail);
            },
            deadline);
        timedOut = !ended;
    } else if (serving || options.runForMs || (scenarios.empty() && !options.dumpText)) {
        // Serve until stopped: by a signal, a quit command, --run-for or the time-out.
        const Moment end = options.runForMs ? processStart + std::chrono::milliseconds(*options.runForMs) : deadline;
        host.TurnUntil(stopRequested, std::min(end, deadline));
        timedOut =
            !stopRequested() && std::chrono::steady_clock::now() >= deadline && (!options.runForMs || deadline <= end);
    } else if (scenarios.empty()) {
        // --dump-text alone: wait for the screen to show something and settle.
        std::uint64_t seen = 0;
        Moment changed = std::chrono::steady_clock::now();
        const bool settled = host.TurnUntil(
            [&] {
                const std::uint64_t count = host.engine().display().changeCount();
                const Moment now = std::chrono::steady_clock::now();
                if (count != seen) {
                    seen = count;
                    changed = now;
                }
                return stopRequested() || (!host.ScreenText().empty() && now - changed >= kSettleTime);
            },
            deadline);
        timedOut = !settled;
    }
    if (timedOut) {
        std::cerr << "quillon-run: the time-out of " << timeoutMs.value_or(0) << " ms passed\n";
        status = options.timeoutExitCode;
    }
    if (deviceEnded) {
        std::cerr << "quillon-run: " << DeviceEndedText(*deviceEnded, deviceOutput) << "\n";
        status = kDeviceEndedStatus;
    } else if (const std::optional<ChildExit> ended = device.End(); ended && !options.quiet) {
        std::cerr << "quillon-run: the device was ended: " << ended->Describe() << "\n";
    }
    // A failure under faults drawn at random can be repeated only with its
    // seed, so it is told even to a quiet run.
    if (status != 0 && link.faults->drewAtRandom()) {
        std::cerr << "quillon-run: " << SeedText(link.faults->seed()) << "\n";
    }
    if (link.tcp && std::chrono::steady_clock::now() >= deadline) {
        if (const std::string waited = link.tcp->WaitingFor(); !waited.empty()) {
            std::cerr << "quillon-run: no device by the time-out: waited for " << waited << "\n";
        }
    }
    // The server's thread calls the control service: it goes first.
    server.reset();
    if (options.dumpText) {
        DumpText(host);
    }
    if (link.demoThread.joinable()) {
        link.demoThread.request_stop();
        link.demoThread.join();
    }
    host.Stop();
    traceOut.Close();
    if (options.stats) {
        PrintStats(host, link);
    }
    return status;
}
