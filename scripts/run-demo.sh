#!/usr/bin/env bash
# Installs what is missing, builds the program and runs `quillon --demo`: the
# panel driven by the built-in demo device, no hardware needed. Arguments go
# to quillon, e.g. `scripts/run-demo.sh --screenshot demo.png`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release

program=build/release/ui/quillon
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<MESSAGE
There is no display here to show the demo's window on (neither DISPLAY nor
WAYLAND_DISPLAY is set). The program is built: run it on a virtual display
and have it save a picture of the window, then look at demo.png:

    xvfb-run -a $program --demo --screenshot demo.png
MESSAGE
    exit 1
fi
exec "$program" --demo "$@"
