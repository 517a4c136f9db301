#!/usr/bin/env bash
# Copies the picture of a failed run's report, which the browser test
# (runner.report.in_browser) takes in headless Chromium, to docs/ for the
# README. Run the test first; BUILD is the build folder (build/ci).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
picture="$build/tests/runner/report-screenshot.png"
if [ ! -f "$picture" ]; then
    echo "report-picture.sh: no $picture; run: ctest --preset ci -R runner.report.in_browser" >&2
    exit 1
fi
cp "$picture" docs/report.png
echo "docs/report.png updated from $picture"
