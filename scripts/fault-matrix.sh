#!/usr/bin/env bash
# Every case of the fault matrix (tests/matrix/fault_matrix.py): both
# programs, every kind of line, paced and not, every fault, 120 cases of a few
# seconds each. The tests run a set of them that meets every pair of values;
# this runs the whole product, or the cases named. Each case's logs and trace
# stay in BUILD_DIR/fault-matrix/CASE.
#
#   scripts/fault-matrix.sh                         every case, build/ci's programs (built first)
#   scripts/fault-matrix.sh run.tcp-listen.9600.drop desktop.demo.free.unplug
#   BUILD_DIR=build/debug scripts/fault-matrix.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/ci}
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset "$(basename "$build")"
fi
cmake --build "$build" --target quillon-run quillon quillon-demo-device

exec python3 tests/matrix/fault_matrix.py --all --work "$build/fault-matrix" \
    --quillon-run "$build/runner/quillon-run" --quillon "$build/ui/quillon" \
    --demo-device "$build/demo/quillon-demo-device" "$@"
