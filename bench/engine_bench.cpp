// The engine alone, with no window: what the receiver, the supervisor and the
// display controller cost per frame, per text size and per screen, what an
// attached observer of the link's events adds, and what a fault port between
// the engine and its port adds.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/blocks.h"
#include "bench/engine_harness.h"
#include "display/text_sizes.h"
#include "link/fault_port.h"
#include "link/fault_rules.h"
#include "link/link_events.h"

namespace quillon::bench {

namespace {

constexpr std::uint32_t kMixedSeed = 7;
constexpr std::size_t kMixedCount = 1000;

// A block that was refused would skip its work and flatter the figure.
void CheckAnswered(benchmark::State& state, const StreamPort& port, std::uint64_t blocks)
{
    if (port.replies != blocks) {
        state.SkipWithError("a block went unanswered");
    } else if ((port.lastStatus & kStatusErrorMask) != 0) {
        state.SkipWithError("the panel reported an error for the block");
    }
}

void SetFrameCounters(benchmark::State& state, const BenchEngine& bench, std::uint64_t frames)
{
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["runs/block"] = static_cast<double>(bench.engine.display().changeCount()) / iterations;
}

void SetEventCounters(benchmark::State& state, const CountingObserver& observer)
{
    state.counters["events/block"] = static_cast<double>(observer.events) / static_cast<double>(state.iterations());
}

void OneBlock(benchmark::State& state, const Bytes& block)
{
    BenchEngine bench;
    for (auto _ : state) {
        RunBlock(bench.engine, bench.port, block);
    }
    SetFrameCounters(state, bench, state.iterations() * CountFrames(block));
    CheckAnswered(state, bench.port, state.iterations());
}

// Runs the mixed blocks through an engine on port, one block an iteration.
void RunMixed(benchmark::State& state, PanelEngine& engine, StreamPort& port, std::uint64_t& frames)
{
    const std::vector<Bytes> blocks = MixedBlocks(kMixedCount, kMixedSeed);
    std::size_t next = 0;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const Bytes& block = blocks[next];
        RunBlock(engine, port, block);
        frames += CountFrames(block);
        bytes += block.size();
        next = (next + 1) % blocks.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    CheckAnswered(state, port, state.iterations());
}

// The blocks a device sends at line rate, back to back; with an observer
// attached every byte, frame, execution and reply becomes an event.
void Mixed(benchmark::State& state, bool observed)
{
    BenchEngine bench;
    CountingObserver observer;
    if (observed) {
        bench.engine.SetObserver(&observer);
    }
    std::uint64_t frames = 0;
    RunMixed(state, bench.engine, bench.port, frames);
    SetFrameCounters(state, bench, frames);
    if (observed) {
        SetEventCounters(state, observer);
        if (observer.events == 0) {
            state.SkipWithError("the observer heard nothing");
        }
    }
}

// The same blocks with a fault port between the engine and its port, as on
// every line of quillon-run: with no rule, and with a rule on each side that
// never strikes, which takes the fault port's lock for every byte and write.
void MixedThroughFaults(benchmark::State& state, bool withRules)
{
    StreamPort port;
    StillClock clock;
    FaultPort faults(port, clock);
    if (withRules) {
        std::string error;
        faults.Add(*ParseFaultRule("drop-reply:at=4294967295", error));
        faults.Add(*ParseFaultRule("drop-byte:at=4294967295", error));
    }
    PanelEngine engine(faults, clock);
    engine.SetLinkEnabled(true);
    std::uint64_t frames = 0;
    RunMixed(state, engine, port, frames);
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// Text rendering alone: a full line in one size, drawn by PutString.
void PutText(benchmark::State& state, std::uint8_t size)
{
    BenchEngine bench;
    DisplayController& controller = bench.engine.controller();
    const std::string text(kTextSizes[size].lineLimit, 'W');
    const auto attribute = static_cast<std::uint8_t>(size << 3);
    for (auto _ : state) {
        controller.PutString(text, attribute, 0, false);
    }
    state.counters["runs"] =
        static_cast<double>(controller.memory().changeCount()) / static_cast<double>(state.iterations());
    benchmark::DoNotOptimize(controller.memory().Column(0, 0));
}

// A frame carried out by the controller alone, without the link around it.
void ExecuteAlone(benchmark::State& state, const Bytes& frame)
{
    BenchEngine bench;
    DisplayController& controller = bench.engine.controller();
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.ExecuteFrame(frame));
    }
    state.counters["runs"] =
        static_cast<double>(controller.memory().changeCount()) / static_cast<double>(state.iterations());
}

void StartupScreen(benchmark::State& state)
{
    BenchEngine bench;
    for (auto _ : state) {
        bench.engine.ShowStartupScreen();
    }
    state.counters["runs"] =
        static_cast<double>(bench.engine.display().changeCount()) / static_cast<double>(state.iterations());
}

// The receiver's work per byte: a full 120-byte block of ten frames, taken
// in one pass each, then released the way a reply releases it.
void Receiver(benchmark::State& state)
{
    const std::vector<FrameContent> frames(10, Text(0, 0, 0, 7));
    const Bytes block = EncodeBlock(frames);
    BenchEngine bench;
    FrameReceiver& receiver = bench.engine.receiver();
    for (auto _ : state) {
        bench.port.Load(block);
        while (receiver.ReceivePass() == ReceiveResult::ByteHandled) {
        }
        receiver.RequestReset({});
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
    if (receiver.framesReceived() != state.iterations() * frames.size() || receiver.errors() != 0) {
        state.SkipWithError("the receiver did not take the block cleanly");
    }
}

// A tick with nothing received: what the idle program pays a hundred times a
// second.
void IdleTick(benchmark::State& state, bool observed)
{
    BenchEngine bench;
    CountingObserver observer;
    if (observed) {
        bench.engine.SetObserver(&observer);
    }
    for (auto _ : state) {
        bench.engine.Tick();
    }
    if (bench.port.replies != 0) {
        state.SkipWithError("an idle tick sent something");
    }
}

void RegisterAll()
{
    for (const NamedBlock& block : FunctionCodeBlocks()) {
        benchmark::RegisterBenchmark(("Block/" + block.name).c_str(), OneBlock, block.bytes)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Block/Heaviest", OneBlock, HeaviestBlock())->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Block/Mixed", Mixed, false)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Block/Mixed/observed", Mixed, true)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Block/Mixed/fault-port", MixedThroughFaults, false)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Block/Mixed/fault-port/rules", MixedThroughFaults, true)
        ->Unit(benchmark::kMicrosecond);
    for (const std::uint8_t size : DrawnTextSizes()) {
        benchmark::RegisterBenchmark(("PutString/size" + std::to_string(size)).c_str(), PutText, size)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("ExecuteFrame/BlankArea/whole", ExecuteAlone, EncodeFrame(kBlankArea, Bytes{0x38}))
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("StartupScreen", StartupScreen)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Receiver/120bytes", Receiver)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Tick/idle", IdleTick, false);
    benchmark::RegisterBenchmark("Tick/idle/observed", IdleTick, true);
}

} // namespace

} // namespace quillon::bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    quillon::bench::RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
