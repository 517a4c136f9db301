// The same blocks as engine_bench, through the real Qt panel widget: every
// column run is painted from display memory into the panel picture and
// followed by a synchronous repaint of the display window, so what the
// window system charges per run shows up here. Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise (xcb under Xvfb, say).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include "bench/blocks.h"
#include "bench/engine_harness.h"
#include "link/panel_engine.h"
#include "ui/panel_widget.h"

namespace quillon::bench {

namespace {

constexpr std::uint32_t kMixedSeed = 7;
constexpr std::size_t kMixedCount = 1000;
constexpr int kExposeLimitMs = 5000;

// One shown panel widget, driven by hand: its link is never started, so no
// reader thread runs and no timer ticks, and each benchmark decides exactly
// what runs.
struct ViewRig {
    ViewRig() : widget(host)
    {
        engine.SetLinkEnabled(true);
        widget.show();
        QElapsedTimer waited;
        waited.start();
        while ((widget.windowHandle() == nullptr || !widget.windowHandle()->isExposed()) &&
               waited.elapsed() < kExposeLimitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }

    StreamPort port;
    StillClock clock;
    PanelHost host{port, clock};
    PanelEngine& engine = host.engine();
    PanelWidget widget;
};

ViewRig* rig = nullptr;

using Clock = std::chrono::steady_clock;

// Times each block on its own as well, so the slowest one is seen: a tick
// that overran its 10 ms would hide in a mean.
void TimeBlocks(benchmark::State& state, const std::vector<Bytes>& blocks)
{
    std::uint64_t frames = 0;
    std::uint64_t runs = 0;
    double slowestMs = 0;
    double totalMs = 0;
    std::size_t next = 0;
    const std::uint64_t repliesBefore = rig->port.replies;
    std::vector<std::uint64_t> runsPerBlock;
    for (const Bytes& block : blocks) {
        runsPerBlock.push_back(RunsPerBlock(block));
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        RunBlock(rig->engine, rig->port, blocks[next]);
        const auto spent = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        slowestMs = std::max(slowestMs, spent);
        totalMs += spent;
        frames += CountFrames(blocks[next]);
        runs += runsPerBlock[next];
        next = (next + 1) % blocks.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["runs/block"] = static_cast<double>(runs) / static_cast<double>(state.iterations());
    if (runs > 0) {
        state.counters["us/run"] = 1000.0 * totalMs / static_cast<double>(runs);
    }
    state.counters["slowest_ms"] = slowestMs;
    if (rig->port.replies - repliesBefore != static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("a block went unanswered");
    } else if ((rig->port.lastStatus & kStatusErrorMask) != 0) {
        state.SkipWithError("the panel reported an error for the block");
    }
}

void OneBlock(benchmark::State& state, const Bytes& block)
{
    TimeBlocks(state, {block});
}

void Mixed(benchmark::State& state)
{
    TimeBlocks(state, MixedBlocks(kMixedCount, kMixedSeed));
}

// The synchronous repaint of the whole widget.
void Repaint(benchmark::State& state)
{
    for (auto _ : state) {
        rig->widget.repaint();
    }
}

// A repaint of the display window alone: the only part of the widget that a
// run can change, and what each run pays on top of its pixels.
void RepaintDisplay(benchmark::State& state)
{
    for (auto _ : state) {
        rig->widget.repaint(PanelWidget::kDisplayRect);
    }
}

// One full-width run as the widget hears of it: painted from display memory
// into the panel picture, then the display window repainted.
void RunWritten(benchmark::State& state)
{
    const DisplayRect fullPage{0, 24, kDisplayWidth, 32};
    for (auto _ : state) {
        rig->widget.RunWritten(fullPage);
    }
}

void IdleTick(benchmark::State& state)
{
    const std::uint64_t repliesBefore = rig->port.replies;
    for (auto _ : state) {
        rig->engine.Tick();
    }
    if (rig->port.replies != repliesBefore) {
        state.SkipWithError("an idle tick sent something");
    }
}

void RegisterAll()
{
    for (const NamedBlock& block : FunctionCodeBlocks()) {
        benchmark::RegisterBenchmark(("QtView/Block/" + block.name).c_str(), OneBlock, block.bytes)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("QtView/Block/Heaviest", OneBlock, HeaviestBlock())->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/Block/Mixed", Mixed)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/Repaint", Repaint)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/RepaintDisplayRect", RepaintDisplay)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/RunWritten/128", RunWritten)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/Tick/idle", IdleTick);
}

} // namespace

} // namespace quillon::bench

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    QApplication application(argc, argv);
    const auto rig = std::make_unique<quillon::bench::ViewRig>();
    quillon::bench::rig = rig.get();
    quillon::bench::RegisterAll();
    benchmark::AddCustomContext("qt_platform", QApplication::platformName().toStdString());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
