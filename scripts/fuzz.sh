#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang 14, ASan, UBSan) and runs
# each for FUZZ_SECONDS (default 60), FUZZ_JOBS at a time, starting from the
# committed seeds in fuzz/corpus/<target>/. Prints the executions of every target and their rate;
# fails if any target finds a crash, a sanitizer report or a broken invariant,
# and leaves the input that did it in build/fuzz/artifacts/.
#
#   scripts/fuzz.sh                              # about a minute per target
#   FUZZ_SECONDS=3600 scripts/fuzz.sh            # the long run
#   FUZZ_TARGETS=link_fuzzer scripts/fuzz.sh
#
# New inputs that reach new code go to build/fuzz/corpus/<target>/, which
# later runs start from too; the committed seeds stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
targets=(${FUZZ_TARGETS:-link_fuzzer display_fuzzer send_packet_fuzzer send_packet_dialog_fuzzer settings_fuzzer
    scenario_fuzzer control_line_fuzzer fault_rule_fuzzer web_request_fuzzer})

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
if command -v llvm-symbolizer-14 >/dev/null; then
    export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14)}
fi

mkdir -p build/fuzz/artifacts build/fuzz/logs build/fuzz/lines
# One target, its line of the summary in build/fuzz/lines/<target>; status 1
# when it found something.
fuzz_one() {
    local target=$1 corpus=build/fuzz/corpus/$1 log=build/fuzz/logs/$1.log
    mkdir -p "$corpus"
    local options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1
        -artifact_prefix="build/fuzz/artifacts/$target-")
    if [ -f "fuzz/$target.dict" ]; then
        options+=(-dict="fuzz/$target.dict")
    fi
    local started status=0
    started=$(date +%s)
    build/fuzz/fuzz/"$target" "$corpus" "fuzz/corpus/$target" "${options[@]}" >"$log" 2>&1 || status=$?
    local elapsed=$(($(date +%s) - started))
    local runs rate coverage
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    local line="$target: ${runs:-?} executions in ${elapsed} s (${rate:-?} per second), coverage ${coverage:-?} edges, corpus $(ls "$corpus" | wc -l) inputs"
    if [ "$status" -ne 0 ]; then
        line="$line, FAILED (exit $status, see $log)"
        grep -E 'ERROR|invariant broken|runtime error|SUMMARY' "$log" | head -n 5 >&2 || true
    fi
    echo "$line" >"build/fuzz/lines/$target"
    [ "$status" -eq 0 ]
}

# The targets run FUZZ_JOBS at a time (one per processor by default): each is
# a single process, so two cores fuzz two targets in the time of one.
jobs=${FUZZ_JOBS:-$(nproc)}
summary=build/fuzz/summary.txt
: >"$summary"
failed=0
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
for target in "${targets[@]}"; do
    tee -a "$summary" <"build/fuzz/lines/$target"
done
exit "$failed"
