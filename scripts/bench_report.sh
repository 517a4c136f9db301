#!/usr/bin/env bash
# The size of the HTML report of a long run and the time Chromium takes to
# open it: a scenario of 500 steps over about ten minutes against
# `quillon-run --demo`, its last step a screen comparison that fails, so the
# report holds the failing step's pictures and rows too. Then headless
# Chromium opens the report five times and the time from navigation to the
# load event is printed. Figures are printed, never asserted.
#
#   scripts/bench_report.sh            500 steps, about 10 minutes
#   scripts/bench_report.sh --quick    50 steps, about 1 minute
set -euo pipefail
cd "$(dirname "$0")/.."

pairs=250
if [ "${1:-}" = "--quick" ]; then
    pairs=25
fi
. scripts/bench_program.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    echo "name: A long run"
    echo "steps:"
    for _ in $(seq "$pairs"); do
        echo "  - press: down"
        echo "    hold: 2200ms"
        echo "  - wait-text: \"MAIN MENU\""
    done
    echo "  - expect-screen: $PWD/tests/runner/data/blank.txt"
} >"$work/long.yaml"

started=$SECONDS
"$program" --demo -q --timeout 1200s --scenario "$work/long.yaml" --artifacts "$work" --report "$work/report.html" || true
echo "- run: $((pairs * 2 + 1)) steps in $((SECONDS - started)) s"
echo "- report: $(du -k "$work/report.html" | cut -f1) KiB; its film of the whole run: $(du -k "$work/report.gif" | cut -f1) KiB"

/usr/bin/python3 - "$work" <<'PY'
import statistics
import sys

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

work = sys.argv[1]
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", f"--user-data-dir={work}/profile"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    times = []
    for _ in range(5):
        driver.get(f"file://{work}/report.html")
        times.append(driver.execute_script(
            "const t = performance.getEntriesByType('navigation')[0]; return t.loadEventEnd - t.startTime;"))
    print(f"- Chromium opens it: median {statistics.median(times):.0f} ms, "
          f"slowest {max(times):.0f} ms of 5 (navigation to load event)")
finally:
    driver.quit()
PY
