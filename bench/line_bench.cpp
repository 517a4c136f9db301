// Plays the device to the real quillon program over a pseudo-terminal and
// measures what the device and the machine see: how long after a block's last
// byte the reply's first byte comes back, how much CPU the program takes idle
// and under traffic at 9600-baud pacing, and whether its memory stays flat.
//
// Usage: line_bench --quillon PATH [--platform offscreen|xvfb] [--blocks N]
//                   [--heavy-blocks N] [--idle-seconds S] [--seed N]
//                   [--turnaround-us N] [--env NAME=VALUE]... [--arg ARG]...
//                   [--samples FILE] [--tick-trace]
//
// The program runs with its own empty settings and runtime folders, so a
// user's stored port or modes never enter the figures.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/blocks.h"
#include "bench/device_line.h"
#include "protocol/protocol.h"

namespace quillon::bench {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;
namespace fs = std::filesystem;

constexpr auto kReplyLimit = std::chrono::seconds(2);
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kSampleEvery = std::chrono::seconds(1);
constexpr std::size_t kShortReplySize = ShortStatusFrame(0).size();
constexpr std::size_t kLongReplySize = LongStatusFrame(0).size();
// Code, length, then the status byte.
constexpr std::size_t kStatusIndex = 2;

struct Options {
    std::string quillon;
    std::string platform = "offscreen";
    std::size_t blocks = 3000;
    std::size_t heavyBlocks = 500;
    int idleSeconds = 60;
    std::uint32_t seed = 7;
    int baud = 9600;
    // The device's pause between a reply and its next block.
    int turnaroundUs = 0;
    // Extra NAME=VALUE settings for the program's environment.
    std::vector<std::string> environment;
    // Extra arguments for the program (--reply-on-tick, say).
    std::vector<std::string> arguments;
    // Where to write every reply latency, one "phase,milliseconds" line each.
    std::string samplesPath;
    // Time every supervisor tick of the program with perf uprobes.
    bool tickTrace = false;
};

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "line_bench: %s\n", what.c_str());
    std::exit(1);
}

std::optional<Options> ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--tick-trace") {
            options.tickTrace = true;
            continue;
        }
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (name == "--quillon") {
            options.quillon = value;
        } else if (name == "--platform" && (value == "offscreen" || value == "xvfb")) {
            options.platform = value;
        } else if (name == "--blocks") {
            options.blocks = std::stoul(value);
        } else if (name == "--heavy-blocks") {
            options.heavyBlocks = std::stoul(value);
        } else if (name == "--idle-seconds") {
            options.idleSeconds = std::stoi(value);
        } else if (name == "--turnaround-us") {
            options.turnaroundUs = std::stoi(value);
        } else if (name == "--env" && value.find('=') != std::string::npos) {
            options.environment.push_back(value);
        } else if (name == "--arg") {
            options.arguments.push_back(value);
        } else if (name == "--samples") {
            options.samplesPath = value;
        } else if (name == "--seed") {
            options.seed = static_cast<std::uint32_t>(std::stoul(value));
        } else {
            return std::nullopt;
        }
    }
    if (options.quillon.empty()) {
        return std::nullopt;
    }
    return options;
}

// ---- Processes ------------------------------------------------------------

struct Child {
    pid_t pid = -1;

    void Stop()
    {
        if (pid <= 0) {
            return;
        }
        kill(pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

    bool Alive() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
};

Child Spawn(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
            const fs::path& log)
{
    const pid_t pid = fork();
    if (pid < 0) {
        Die("cannot fork");
    }
    if (pid == 0) {
        for (const auto& [name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return Child{pid};
}

// A display server of our own, so its cost can be measured apart and no
// other program's display is disturbed.
Child StartXvfb(std::string& display, const fs::path& log)
{
    for (int number = 140; number < 200; ++number) {
        char lock[64];
        char socket[64];
        char name[16];
        std::snprintf(lock, sizeof lock, "/tmp/.X%d-lock", number);
        std::snprintf(socket, sizeof socket, "/tmp/.X11-unix/X%d", number);
        std::snprintf(name, sizeof name, ":%d", number);
        if (fs::exists(lock) || fs::exists(socket)) {
            continue;
        }
        display = name;
        Child server = Spawn({"Xvfb", display, "-nolisten", "tcp", "-screen", "0", "1024x768x24", "-noreset"}, {}, log);
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        while (SteadyClock::now() < deadline && server.Alive()) {
            if (fs::exists(socket)) {
                return server;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        server.Stop();
    }
    Die("cannot start Xvfb");
}

// ---- /proc ------------------------------------------------------------------

struct ThreadUse {
    std::string name;
    double cpuSeconds = 0;
    std::uint64_t wakeups = 0;
};

struct ProcSample {
    SteadyClock::time_point at;
    double cpuSeconds = 0;
    std::uint64_t rssKb = 0;
    std::map<int, ThreadUse> threads;
};

// utime + stime of a stat line, in seconds; comm is the name in parentheses.
double StatCpuSeconds(const std::string& line, std::string* comm)
{
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) {
        return 0;
    }
    if (comm != nullptr) {
        *comm = line.substr(open + 1, close - open - 1);
    }
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) {
        fields.push_back(field);
    }
    // Field 3 of stat (the state) is fields[0]; utime and stime are 14 and 15.
    if (fields.size() < 13) {
        return 0;
    }
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string ReadFirstLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::uint64_t StatusField(const fs::path& path, const std::string& key)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stoull(line.substr(key.size() + 1));
        }
    }
    return 0;
}

ProcSample Sample(pid_t pid)
{
    const fs::path proc = "/proc/" + std::to_string(pid);
    ProcSample sample;
    sample.at = SteadyClock::now();
    sample.cpuSeconds = StatCpuSeconds(ReadFirstLine(proc / "stat"), nullptr);
    sample.rssKb = StatusField(proc / "status", "VmRSS");
    std::error_code error;
    for (const auto& task : fs::directory_iterator(proc / "task", error)) {
        ThreadUse use;
        use.cpuSeconds = StatCpuSeconds(ReadFirstLine(task.path() / "stat"), &use.name);
        use.wakeups = StatusField(task.path() / "status", "voluntary_ctxt_switches") +
                      StatusField(task.path() / "status", "nonvoluntary_ctxt_switches");
        sample.threads[std::stoi(task.path().filename())] = use;
    }
    return sample;
}

// ---- Measuring --------------------------------------------------------------

struct PhaseResult {
    std::string name;
    double seconds = 0;
    double cpuPercent = 0;
    double serverCpuPercent = -1;
    std::vector<double> latenciesMs;
    std::size_t blocks = 0;
    std::size_t bytesSent = 0;
    std::size_t unanswered = 0;
    std::size_t errorReplies = 0;
    std::size_t bytesReceived = 0;
    std::uint64_t rssFirstKb = 0;
    std::uint64_t rssLastKb = 0;
    std::uint64_t rssMaxKb = 0;
    std::vector<std::pair<std::string, double>> threadCpuPercent;
    double wakeupsPerSecond = 0;
    // CLOCK_MONOTONIC seconds, the clock the tick trace is taken on.
    double startS = 0;
    double endS = 0;
};

// ---- Tick trace -------------------------------------------------------------

// Every supervisor tick of the running program, and every answer to a block
// made as soon as it completed, timed from outside by perf uprobes on
// PanelEngine::Tick and PanelEngine::AnswerCompleteBlock (entry and return),
// on the same monotonic clock as the device's timestamps. Needs root and
// perf; each call then costs the program two probe traps, a few
// microseconds.
class TickTrace {
public:
    struct Tick {
        double startS;
        double endS;
        // An answer to a complete block rather than a 10 ms tick.
        bool answer;
    };

    bool Start(const std::string& binary, pid_t pid, const fs::path& folder)
    {
        RemoveProbes();
        std::vector<std::string> record{"perf", "record", "-q", "-k", "CLOCK_MONOTONIC"};
        for (const auto& [probe, symbol] : kProbes) {
            const std::string address = SymbolAddress(binary, symbol);
            const std::string add = "perf probe -q -x '" + binary + "' -a " + probe + "=0x" + address;
            if (address.empty() || std::system((add + " 2>/dev/null").c_str()) != 0 ||
                std::system((add + "%return 2>/dev/null").c_str()) != 0) {
                RemoveProbes();
                return false;
            }
            for (const std::string& event : {std::string(probe), std::string(probe) + "__return"}) {
                record.insert(record.end(), {"-e", "probe_quillon:" + event});
            }
        }
        data_ = folder / "ticks.data";
        record.insert(record.end(), {"-p", std::to_string(pid), "-o", data_.string()});
        recorder_ = Spawn(record, {}, folder / "perf.log");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return recorder_.Alive();
    }

    // Stops recording and reads the calls back.
    std::vector<Tick> Stop()
    {
        std::vector<Tick> ticks;
        if (recorder_.pid <= 0) {
            return ticks;
        }
        kill(recorder_.pid, SIGINT);
        waitpid(recorder_.pid, nullptr, 0);
        recorder_.pid = -1;
        const std::string command = "perf script -F time,event --ns -i '" + data_.string() + "' 2>/dev/null";
        FILE* script = popen(command.c_str(), "r");
        if (script != nullptr) {
            char line[256];
            double start = -1;
            while (std::fgets(line, sizeof line, script) != nullptr) {
                const double at = std::strtod(line, nullptr);
                const bool answer = std::strstr(line, "quillon_answer") != nullptr;
                if (std::strstr(line, "__return") != nullptr) {
                    if (start >= 0) {
                        ticks.push_back({start, at, answer});
                    }
                    start = -1;
                } else {
                    start = at;
                }
            }
            pclose(script);
        }
        RemoveProbes();
        return ticks;
    }

private:
    static void RemoveProbes()
    {
        [[maybe_unused]] const int ignored = std::system("perf probe -q -d 'probe_quillon:*' 2>/dev/null");
    }

    static std::string SymbolAddress(const std::string& binary, const std::string& symbol)
    {
        FILE* nm = popen(("nm -C '" + binary + "' 2>/dev/null").c_str(), "r");
        if (nm == nullptr) {
            return {};
        }
        std::string address;
        char line[1024];
        while (std::fgets(line, sizeof line, nm) != nullptr) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
                text.pop_back();
            }
            if (text.size() > symbol.size() && text.compare(text.size() - symbol.size(), symbol.size(), symbol) == 0 &&
                text.find(" T ") != std::string::npos) {
                address = text.substr(0, text.find(' '));
            }
        }
        pclose(nm);
        return address;
    }

    static constexpr std::pair<const char*, const char*> kProbes[] = {
        {"quillon_tick", "quillon::PanelEngine::Tick()"},
        {"quillon_answer", "quillon::PanelEngine::AnswerCompleteBlock()"},
    };

    Child recorder_;
    fs::path data_;
};

double MonotonicSeconds(SteadyClock::time_point at)
{
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

class Session {
public:
    Session(const Options& options, DeviceLine& line, Child& program, Child* server)
        : options_(options), line_(line), program_(program), server_(server)
    {
    }

    // Waits until the program answers a block: it has opened the line and
    // its timer runs.
    void WaitUntilAnswering()
    {
        const Bytes probe = EncodeFrame(kReadSwitches, Bytes{0x00});
        const auto deadline = SteadyClock::now() + kStartLimit;
        while (SteadyClock::now() < deadline) {
            if (!program_.Alive()) {
                Die("quillon ended during start-up (see its log)");
            }
            line_.SendBurst(probe);
            if (line_.WaitForByte(std::chrono::milliseconds(300))) {
                const Bytes reply = line_.Receive(kShortReplySize, std::chrono::milliseconds(300));
                if (reply.size() == kShortReplySize && reply[0] == kReadSwitches) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    line_.Drain();
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            line_.Drain();
        }
        Die("quillon did not answer within 30 s");
    }

    PhaseResult Idle(int seconds)
    {
        PhaseResult result;
        result.name = "idle, port open, no traffic";
        Begin(result);
        const auto end = SteadyClock::now() + std::chrono::seconds(seconds);
        while (SteadyClock::now() < end) {
            if (line_.WaitForByte(std::chrono::milliseconds(200))) {
                result.bytesReceived += line_.Drain();
            }
            MaybeSampleMemory(result);
        }
        Finish(result);
        return result;
    }

    // Blocks back to back: the next block starts as soon as the reply has
    // come, as a device that keeps the line busy does. `gapMs` adds a random
    // pause before each block, which spreads the blocks over the program's
    // 10 ms tick instead of locking them to it.
    PhaseResult Traffic(const std::string& name, const std::vector<Bytes>& blocks, bool paced, int gapMs)
    {
        PhaseResult result;
        result.name = name;
        std::mt19937 gaps(options_.seed);
        Begin(result);
        for (const Bytes& block : blocks) {
            if (options_.turnaroundUs > 0) {
                std::this_thread::sleep_for(Micros(options_.turnaroundUs));
            }
            if (gapMs > 0) {
                std::this_thread::sleep_for(Micros(gaps() % (gapMs * 1000)));
            }
            const auto lastByte = paced ? line_.SendPaced(block) : line_.SendBurst(block);
            result.bytesSent += block.size();
            ++result.blocks;
            const auto firstReplyByte = line_.WaitForByte(kReplyLimit);
            if (!firstReplyByte) {
                ++result.unanswered;
                if (!program_.Alive()) {
                    Die("quillon ended during the run");
                }
                continue;
            }
            result.latenciesMs.push_back(std::chrono::duration<double, std::milli>(*firstReplyByte - lastByte).count());
            const std::size_t expected = LastCode(block) == kSetContrastAndReplyMode ? kLongReplySize : kShortReplySize;
            const Bytes reply = line_.Receive(expected, std::chrono::milliseconds(500));
            result.bytesReceived += reply.size();
            if (reply.size() != expected || (reply[kStatusIndex] & kStatusErrorMask) != 0) {
                ++result.errorReplies;
                // Let a pending error reply come out before the next block.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                result.bytesReceived += line_.Drain();
            }
            MaybeSampleMemory(result);
        }
        Finish(result);
        return result;
    }

private:
    static std::uint8_t LastCode(const Bytes& block)
    {
        std::size_t at = 0;
        while (at + block[at + 1] + kFrameOverhead < block.size()) {
            at += block[at + 1] + kFrameOverhead;
        }
        return block[at] & kFunctionCodeMask;
    }

    void Begin(PhaseResult& result)
    {
        start_ = Sample(program_.pid);
        serverStart_ = server_ != nullptr ? Sample(server_->pid).cpuSeconds : 0;
        result.rssFirstKb = result.rssLastKb = result.rssMaxKb = start_.rssKb;
        result.startS = MonotonicSeconds(start_.at);
        lastMemorySample_ = start_.at;
    }

    void MaybeSampleMemory(PhaseResult& result)
    {
        if (SteadyClock::now() - lastMemorySample_ < kSampleEvery) {
            return;
        }
        lastMemorySample_ = SteadyClock::now();
        const std::uint64_t rss = StatusField("/proc/" + std::to_string(program_.pid) + "/status", "VmRSS");
        result.rssLastKb = rss;
        result.rssMaxKb = std::max(result.rssMaxKb, rss);
    }

    void Finish(PhaseResult& result)
    {
        const ProcSample end = Sample(program_.pid);
        result.seconds = std::chrono::duration<double>(end.at - start_.at).count();
        result.endS = MonotonicSeconds(end.at);
        result.cpuPercent = 100.0 * (end.cpuSeconds - start_.cpuSeconds) / result.seconds;
        if (server_ != nullptr) {
            result.serverCpuPercent = 100.0 * (Sample(server_->pid).cpuSeconds - serverStart_) / result.seconds;
        }
        result.rssLastKb = end.rssKb;
        result.rssMaxKb = std::max(result.rssMaxKb, end.rssKb);
        std::uint64_t wakeups = 0;
        for (const auto& [tid, use] : end.threads) {
            const auto before = start_.threads.find(tid);
            const double cpu = use.cpuSeconds - (before != start_.threads.end() ? before->second.cpuSeconds : 0);
            const std::uint64_t woke = use.wakeups - (before != start_.threads.end() ? before->second.wakeups : 0);
            wakeups += woke;
            const std::string label = use.name + (tid == program_.pid ? " (UI thread)" : "");
            if (cpu > 0) {
                result.threadCpuPercent.emplace_back(label, 100.0 * cpu / result.seconds);
            }
        }
        result.wakeupsPerSecond = static_cast<double>(wakeups) / result.seconds;
    }

    const Options& options_;
    DeviceLine& line_;
    Child& program_;
    Child* server_;
    ProcSample start_;
    double serverStart_ = 0;
    SteadyClock::time_point lastMemorySample_;
};

// ---- Report -----------------------------------------------------------------

void ReportTicks(const PhaseResult& result, const std::vector<TickTrace::Tick>& allTicks)
{
    std::vector<double> workMs;
    std::vector<double> answerMs;
    double longestGapMs = 0;
    std::size_t late = 0;
    double previousStart = -1;
    for (const TickTrace::Tick& tick : allTicks) {
        if (tick.startS < result.startS || tick.startS > result.endS) {
            continue;
        }
        if (tick.answer) {
            answerMs.push_back(1000.0 * (tick.endS - tick.startS));
            continue;
        }
        workMs.push_back(1000.0 * (tick.endS - tick.startS));
        if (previousStart >= 0) {
            const double gapMs = 1000.0 * (tick.startS - previousStart);
            longestGapMs = std::max(longestGapMs, gapMs);
            // The timer is due every 10 ms; a tick that starts more than a
            // millisecond after that waited for the CPU or for the one before.
            if (gapMs > 11.0) {
                ++late;
            }
        }
        previousStart = tick.startS;
    }
    if (!workMs.empty()) {
        const auto overran = std::count_if(workMs.begin(), workMs.end(), [](double ms) { return ms > 10.0; });
        std::printf("| supervisor ticks traced | %zu (%.1f /s) |\n", workMs.size(),
                    static_cast<double>(workMs.size()) / result.seconds);
        std::printf("| tick work p50 / p99 / max | %.3f / %.3f / %.3f ms |\n", Percentile(workMs, 0.5),
                    Percentile(workMs, 0.99), Percentile(workMs, 1));
        std::printf("| ticks whose work overran 10 ms | %ld |\n", static_cast<long>(overran));
        std::printf("| ticks started more than 11 ms after the one before; longest gap | %zu; %.2f ms |\n", late,
                    longestGapMs);
    }
    if (!answerMs.empty()) {
        std::printf("| blocks answered at once, traced | %zu (%.1f /s) |\n", answerMs.size(),
                    static_cast<double>(answerMs.size()) / result.seconds);
        std::printf("| answer work p50 / p99 / max | %.3f / %.3f / %.3f ms |\n", Percentile(answerMs, 0.5),
                    Percentile(answerMs, 0.99), Percentile(answerMs, 1));
    }
}

void Report(const PhaseResult& result, const Options& options, const std::vector<TickTrace::Tick>& ticks)
{
    std::printf("\n### %s\n\n", result.name.c_str());
    std::printf("| Figure | Value |\n|---|---|\n");
    std::printf("| duration | %.1f s |\n", result.seconds);
    if (result.blocks > 0) {
        const double lineSeconds = static_cast<double>(result.bytesSent * kBitsPerByte) / options.baud;
        std::printf("| blocks, bytes sent | %zu blocks, %zu bytes (%.0f bytes/s, line busy %.0f %% of the time) |\n",
                    result.blocks, result.bytesSent, static_cast<double>(result.bytesSent) / result.seconds,
                    100.0 * lineSeconds / result.seconds);
        std::printf("| unanswered blocks, error replies | %zu, %zu |\n", result.unanswered, result.errorReplies);
        const auto& l = result.latenciesMs;
        std::printf("| reply latency min / p50 / p90 / p99 / max | %.2f / %.2f / %.2f / %.2f / %.2f ms |\n",
                    Percentile(l, 0), Percentile(l, 0.5), Percentile(l, 0.9), Percentile(l, 0.99), Percentile(l, 1));
        const auto over = std::count_if(l.begin(), l.end(), [](double ms) { return ms > 11.0; });
        std::printf("| replies later than 11 ms | %ld of %zu |\n", static_cast<long>(over), l.size());
    } else {
        std::printf("| bytes from the program | %zu |\n", result.bytesReceived);
    }
    std::printf("| program CPU (utime+stime, all threads) | %.2f %% of one core |\n", result.cpuPercent);
    for (const auto& [name, percent] : result.threadCpuPercent) {
        std::printf("| &nbsp;&nbsp;thread %s | %.2f %% |\n", name.c_str(), percent);
    }
    std::printf("| program wake-ups (context switches, all threads) | %.0f /s |\n", result.wakeupsPerSecond);
    if (result.serverCpuPercent >= 0) {
        std::printf("| display server (Xvfb) CPU | %.2f %% of one core |\n", result.serverCpuPercent);
    }
    ReportTicks(result, ticks);
    std::printf("| RSS first / last / max | %llu / %llu / %llu kB |\n",
                static_cast<unsigned long long>(result.rssFirstKb), static_cast<unsigned long long>(result.rssLastKb),
                static_cast<unsigned long long>(result.rssMaxKb));
}

} // namespace

int Run(const Options& options)
{
    char folderTemplate[] = "/tmp/quillon-line-bench.XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        Die("cannot make a scratch folder");
    }
    const fs::path folder = folderTemplate;
    fs::create_directories(folder / "config");
    fs::create_directories(folder / "runtime");
    fs::permissions(folder / "runtime", fs::perms::owner_all, fs::perm_options::replace);

    std::map<std::string, std::string> environment{
        {"XDG_CONFIG_HOME", folder / "config"},
        {"XDG_RUNTIME_DIR", folder / "runtime"},
    };
    for (const std::string& setting : options.environment) {
        const auto equals = setting.find('=');
        environment[setting.substr(0, equals)] = setting.substr(equals + 1);
    }
    Child server;
    if (options.platform == "xvfb") {
        std::string display;
        server = StartXvfb(display, folder / "xvfb.log");
        environment["DISPLAY"] = display;
        environment["QT_QPA_PLATFORM"] = "xcb";
    } else {
        environment["QT_QPA_PLATFORM"] = "offscreen";
    }

    DeviceLine line(options.baud);
    std::vector<std::string> command{options.quillon, "--port", line.path()};
    command.insert(command.end(), options.arguments.begin(), options.arguments.end());
    Child program = Spawn(command, environment, folder / "quillon.log");
    Session session(options, line, program, options.platform == "xvfb" ? &server : nullptr);
    session.WaitUntilAnswering();

    std::printf("## quillon on the %s platform, device at %d baud over %s\n", options.platform.c_str(), options.baud,
                line.path().c_str());
    std::fflush(stdout);

    std::vector<PhaseResult> results;
    if (options.idleSeconds > 0) {
        results.push_back(session.Idle(options.idleSeconds));
    }
    // Traced from here on: the probes cost the program a little CPU, which
    // the idle figure must not carry.
    TickTrace trace;
    if (options.tickTrace && !trace.Start(options.quillon, program.pid, folder)) {
        std::printf("\n(no tick trace: it needs root, perf and a program with its symbols)\n");
    }
    if (options.blocks > 0) {
        results.push_back(session.Traffic("mixed blocks, back to back at line speed",
                                          MixedBlocks(options.blocks, options.seed), true, 0));
    }
    if (options.heavyBlocks > 0) {
        // The floor: a block with nothing to draw, so its latency is the wait
        // for the next tick alone.
        const std::vector<Bytes> light(options.heavyBlocks, EncodeFrame(kReadSwitches, Bytes{0x00}));
        results.push_back(
            session.Traffic("READ SWITCHES alone, nothing drawn: the tick's own timing", light, true, 10));
        const std::vector<Bytes> heavy(options.heavyBlocks, HeaviestBlock());
        results.push_back(
            session.Traffic("heaviest block (whole-display clear + size-5 text), at line speed", heavy, true, 10));
        results.push_back(
            session.Traffic("heaviest block in one burst, so both frames run in one tick", heavy, false, 10));
    }
    const std::vector<TickTrace::Tick> ticks = trace.Stop();
    for (const PhaseResult& result : results) {
        Report(result, options, ticks);
    }
    std::fflush(stdout);
    if (!options.samplesPath.empty()) {
        std::ofstream samples(options.samplesPath);
        for (const PhaseResult& result : results) {
            for (const double ms : result.latenciesMs) {
                samples << '"' << result.name << "\"," << ms << '\n';
            }
        }
    }

    program.Stop();
    server.Stop();
    std::error_code error;
    fs::remove_all(folder, error);
    return 0;
}

} // namespace quillon::bench

int main(int argc, char** argv)
{
    const auto options = quillon::bench::ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: line_bench --quillon PATH [--platform offscreen|xvfb] [--blocks N]\n"
                             "                  [--heavy-blocks N] [--idle-seconds S] [--seed N]\n"
                             "                  [--turnaround-us N] [--env NAME=VALUE]... [--arg ARG]...\n"
                             "                  [--samples FILE] [--tick-trace]\n");
        return 2;
    }
    return quillon::bench::Run(*options);
}
