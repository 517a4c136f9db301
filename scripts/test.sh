#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
# The whole suite, Qt included, under AddressSanitizer and UBSan; any report
# fails the run.
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
# A short fuzz run per target; FUZZ_SECONDS=3600 scripts/fuzz.sh is the long one.
FUZZ_SECONDS=${FUZZ_SECONDS:-60} scripts/fuzz.sh
