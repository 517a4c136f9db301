// The same blocks as engine_bench, through the real Qt panel view: every
// column run is painted into the display image, copied into the panel
// picture and followed by a synchronous repaint of the window, so what the
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
#include "link/link_state.h"
#include "ui/corvane_view.h"

namespace quillon::bench {

namespace {

constexpr std::uint32_t kMixedSeed = 7;
constexpr std::size_t kMixedCount = 1000;
constexpr int kExposeLimitMs = 5000;
// Where the display sits in the panel picture.
constexpr QRect kDisplayRect{80, 118, 128, 64};

// One shown panel view, driven by hand: its reader thread is stopped and its
// timer never gets an event loop to fire in, so each benchmark decides
// exactly what runs.
struct ViewRig {
    ViewRig() : view(nullptr, state, port, clock)
    {
        state.linkEnabled = 1;
        view.OnInitialUpdate();
        view.link().StopReceiveThread();
        view.show();
        QElapsedTimer waited;
        waited.start();
        while ((view.windowHandle() == nullptr || !view.windowHandle()->isExposed()) &&
               waited.elapsed() < kExposeLimitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }

    LinkState state;
    StreamPort port;
    StillClock clock;
    CCorvaneView view;
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
        RunBlock(rig->view.link(), rig->port, blocks[next]);
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

// The synchronous repaint alone: what every column run pays on top of its
// pixels.
void Repaint(benchmark::State& state)
{
    for (auto _ : state) {
        rig->view.RepaintNow();
    }
}

// A repaint of the display rectangle alone: the only part of the window
// that a run can change, so the picture on screen is the same.
void RepaintDisplay(benchmark::State& state)
{
    for (auto _ : state) {
        rig->view.repaint(kDisplayRect);
    }
}

// A full-width run painted into the display image and copied into the panel
// picture, without the repaint.
void PaintRun(benchmark::State& state)
{
    DrawRequest request;
    for (std::size_t i = 0; i < request.bytes.size(); ++i) {
        request.bytes[i] = static_cast<std::uint8_t>(i * 37);
    }
    request.length = 128;
    request.topRow = 24;
    for (auto _ : state) {
        rig->view.DrawColumnRun(request);
    }
}

void IdleTick(benchmark::State& state)
{
    const std::uint64_t repliesBefore = rig->port.replies;
    for (auto _ : state) {
        rig->view.link().LinkTick();
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
    benchmark::RegisterBenchmark("QtView/RepaintNow", Repaint)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/RepaintDisplayRect", RepaintDisplay)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/DrawColumnRun/128", PaintRun)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QtView/LinkTick/idle", IdleTick);
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
