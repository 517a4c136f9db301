#!/usr/bin/env bash
# Copies the picture of the panel's web page, which the browser test
# (runner.web.in_browser) takes in headless Chromium, to docs/ for the
# README. Run the test first; BUILD is the build folder (build/ci).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
picture="$build/tests/runner/web-page.png"
if [ ! -f "$picture" ]; then
    echo "web-picture.sh: no $picture; run: ctest --preset ci -R runner.web.in_browser" >&2
    exit 1
fi
cp "$picture" docs/web-page.png
echo "docs/web-page.png updated from $picture"
