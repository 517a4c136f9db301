#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every CTest run's output is kept so the last line can count them all.
results=$(mktemp)
trap 'rm -f "$results"' EXIT
run_tests() {
    ctest --preset "$1" | tee -a "$results"
}

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
run_tests ci
# The README's QEMU commands, as written, on the release build they name,
# with only the programs they run built. Then the Debian package, built in
# the same folder (its options are the release preset's, so nothing is
# compiled twice): its contents listed and validated, and the programs run
# from it.
cmake --preset release
cmake --build --preset release --target quillon-run quillon-firmware
run_tests release
scripts/package-check.sh build/release
cmake --preset tsan
cmake --build --preset tsan
run_tests tsan
# The whole suite, Qt included, under AddressSanitizer and UBSan; any report
# fails the run.
cmake --preset asan
cmake --build --preset asan
run_tests asan
# The engine, the Windows serial port, the demo device and the headless
# runner cross-built for Windows and tested under Wine.
scripts/windows-check.sh | tee -a "$results"
# A short fuzz run per target, 40 seconds each, so that the whole run stays
# under an hour; FUZZ_SECONDS=3600 scripts/fuzz.sh is the long one.
FUZZ_SECONDS=${FUZZ_SECONDS:-40} scripts/fuzz.sh

total=0
failed=0
while read -r _ _ _ nfailed _ _ _ _ ntotal; do
    total=$((total + ntotal))
    failed=$((failed + nfailed))
done < <(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$results")
echo "tests: $((total - failed)) passed, $failed failed"
