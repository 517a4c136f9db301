// The engine alone, against a panel that only keeps page bytes: what the
// receiver, the supervisor and the display controller cost per frame, per
// text size and per screen, with no window in the way.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/blocks.h"
#include "bench/engine_harness.h"
#include "display/controller.h"
#include "link/frame.h"

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

void SetFrameCounters(benchmark::State& state, const BenchEngine& engine, std::uint64_t frames)
{
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["runs/block"] = static_cast<double>(engine.view.repaints) / iterations;
}

void OneBlock(benchmark::State& state, const Bytes& block)
{
    BenchEngine engine;
    for (auto _ : state) {
        RunBlock(engine.link, engine.port, block);
    }
    SetFrameCounters(state, engine, state.iterations() * CountFrames(block));
    CheckAnswered(state, engine.port, state.iterations());
}

void Mixed(benchmark::State& state)
{
    const std::vector<Bytes> blocks = MixedBlocks(kMixedCount, kMixedSeed);
    BenchEngine engine;
    std::size_t next = 0;
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const Bytes& block = blocks[next];
        RunBlock(engine.link, engine.port, block);
        frames += CountFrames(block);
        bytes += block.size();
        next = (next + 1) % blocks.size();
    }
    SetFrameCounters(state, engine, frames);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    CheckAnswered(state, engine.port, state.iterations());
}

// Text rendering alone: a full line in one size, drawn by PutString.
void PutText(benchmark::State& state, std::uint8_t size)
{
    BenchEngine engine;
    const std::string text(LineLimit(size), 'W');
    const auto attribute = static_cast<std::uint8_t>(size << 3);
    for (auto _ : state) {
        engine.link.PutString(text.c_str(), attribute, 0, false);
    }
    state.counters["runs"] = static_cast<double>(engine.view.repaints) / static_cast<double>(state.iterations());
    benchmark::DoNotOptimize(engine.view.Column(0, 0));
}

void ClearDisplay(benchmark::State& state)
{
    BenchEngine engine;
    for (auto _ : state) {
        engine.state.pageRange = kWholeDisplayPageRange;
        engine.link.ClearPages();
    }
    state.counters["runs"] = static_cast<double>(engine.view.repaints) / static_cast<double>(state.iterations());
}

void StartupScreen(benchmark::State& state)
{
    BenchEngine engine;
    for (auto _ : state) {
        engine.link.ShowStartupScreen();
    }
    state.counters["runs"] = static_cast<double>(engine.view.repaints) / static_cast<double>(state.iterations());
}

// The receiver's work per byte: a full 120-byte block of ten frames, taken
// in one pass each, then released the way a reply releases it.
void Receiver(benchmark::State& state)
{
    std::vector<FrameContent> frames(10, Text(0, 0, 0, 7));
    const Bytes block = Block(frames);
    BenchEngine engine;
    for (auto _ : state) {
        engine.port.Load(block);
        while (engine.link.ReceivePass() == ReceiveResult::ByteHandled) {
        }
        engine.link.SendReply(false);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
    if (engine.state.work.framesReceived != 0 || engine.state.rxErrors != 0) {
        state.SkipWithError("the receiver did not take the block cleanly");
    }
}

// A tick with nothing received: what the idle program pays a hundred times a
// second.
void IdleTick(benchmark::State& state)
{
    BenchEngine engine;
    for (auto _ : state) {
        engine.link.LinkTick();
    }
    if (engine.port.replies != 0) {
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
    benchmark::RegisterBenchmark("Block/Mixed", Mixed)->Unit(benchmark::kMicrosecond);
    for (const std::uint8_t size : kTextSizes) {
        benchmark::RegisterBenchmark(("PutString/size" + std::to_string(size)).c_str(), PutText, size)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("ClearPages/whole", ClearDisplay)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("StartupScreen", StartupScreen)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Receiver/120bytes", Receiver)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("LinkTick/idle", IdleTick);
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
