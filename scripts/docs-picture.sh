#!/usr/bin/env bash
# Copies a picture that a browser test takes in headless Chromium to docs/
# for the README: `report` (the report of a failed run, from
# runner.report.in_browser) or `web-page` (the panel's web page, from
# runner.web.in_browser). Run the test first; BUILD is the build folder
# (build/ci).
#
#   scripts/docs-picture.sh report|web-page [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
report) picture=report-screenshot.png test=runner.report.in_browser ;;
web-page) picture=web-page.png test=runner.web.in_browser ;;
*)
    echo "usage: scripts/docs-picture.sh report|web-page [BUILD]" >&2
    exit 2
    ;;
esac
picture="${2:-build/ci}/tests/runner/$picture"
if [ ! -f "$picture" ]; then
    echo "docs-picture.sh: no $picture; run: ctest --preset ci -R $test" >&2
    exit 1
fi
cp "$picture" "docs/$1.png"
echo "docs/$1.png updated from $picture"
