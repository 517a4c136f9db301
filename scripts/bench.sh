#!/usr/bin/env bash
# Builds the benchmarks optimised and runs them all: the engine alone, the
# engine with its threads on a pseudo-terminal at line rate with and without
# an observer, the Qt panel widget on the offscreen platform and under Xvfb,
# and the real program driven end to end over a pseudo-terminal on both
# platforms. Prints the machine and every figure; saves them under
# build/bench/results/. Timings are measured here and never asserted. The
# tick trace needs root (perf uprobes); without it that part is left out.
#
#   scripts/bench.sh            full run (about 12 minutes)
#   scripts/bench.sh --quick    short run to check that everything works
set -euo pipefail
cd "$(dirname "$0")/.."

blocks=3000
heavy_blocks=500
idle_seconds=60
line_seconds=60
paced_blocks=100
min_time=0.5
if [ "${1:-}" = "--quick" ]; then
    blocks=200
    heavy_blocks=50
    idle_seconds=5
    line_seconds=5
    paced_blocks=10
    min_time=0.05
fi

scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target engine_bench engine_line_bench paced_line_bench view_bench line_bench quillon

bin=build/bench/bench
results=build/bench/results
mkdir -p "$results"

{
    echo "## Machine"
    echo
    echo "- processors: $(nproc), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
    echo "- memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
    echo "- system: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "- load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- commit: $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- protocol link display serial ui bench || echo ' with local changes')"
} | tee "$results/machine.md"

echo
echo "## Engine alone"
"$bin/engine_bench" --benchmark_min_time="$min_time" | tee "$results/engine.txt"

echo
"$bin/engine_line_bench" --seconds "$line_seconds" | tee "$results/engine-line.md"
echo
"$bin/engine_line_bench" --seconds "$line_seconds" --reply-on-tick | tee "$results/engine-line-on-tick.md"
echo
"$bin/paced_line_bench" --blocks "$paced_blocks" | tee "$results/paced-line.md"

echo
echo "## Qt panel widget, offscreen platform"
QT_QPA_PLATFORM=offscreen "$bin/view_bench" --benchmark_min_time="$min_time" | tee "$results/view-offscreen.txt"

echo
echo "## Qt panel widget, xcb platform under Xvfb"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$bin/view_bench" --benchmark_min_time="$min_time" | tee "$results/view-xvfb.txt"

for platform in offscreen xvfb; do
    echo
    "$bin/line_bench" --quillon build/bench/ui/quillon --platform "$platform" --blocks "$blocks" \
        --heavy-blocks "$heavy_blocks" --idle-seconds "$idle_seconds" --tick-trace | tee "$results/line-$platform.md"
done

# The tick-driven timing beside it: replies only on the 10 ms tick.
echo
"$bin/line_bench" --quillon build/bench/ui/quillon --platform xvfb --arg --reply-on-tick --blocks "$blocks" \
    --heavy-blocks "$heavy_blocks" --idle-seconds 0 --tick-trace | tee "$results/line-xvfb-on-tick.md"

echo
echo "- load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$results/machine.md"
