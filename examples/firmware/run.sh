#!/bin/sh
# Runs the example firmware under QEMU against quillon-run, which starts QEMU
# itself (--spawn) once the panel is ready and ends it when the run ends.
#
#   examples/firmware/run.sh listen|connect PORT [QUILLON-RUN OPTIONS]
#
# listen:  quillon-run listens on 127.0.0.1:PORT (0: any free port) and QEMU
#          connects to it.
# connect: QEMU serves 127.0.0.1:PORT and quillon-run connects to it.
#
# The exit status is quillon-run's. The programs and the firmware are taken
# from QUILLON_RUN, QEMU and FIRMWARE, or from a release build; DEVICE_DELAY
# starts QEMU that many seconds later than quillon-run would.
set -eu

if [ $# -lt 2 ] || { [ "$1" != listen ] && [ "$1" != connect ]; }; then
    echo "usage: $0 listen|connect PORT [QUILLON-RUN OPTIONS]" >&2
    exit 2
fi
order=$1
port=$2
shift 2
quillon_run=${QUILLON_RUN:-build/release/runner/quillon-run}
qemu=${QEMU:-qemu-system-arm}
firmware=${FIRMWARE:-build/release/examples/firmware/firmware.elf}

# nodelay=on: QEMU writes each byte of the UART in a segment of its own, and
# without it every block waits some 40 ms for the acknowledgements. The shell
# that --spawn starts takes the paths quoted, spaces and all.
device="sleep ${DEVICE_DELAY:-0} && exec '$qemu' -M lm3s6965evb -display none -monitor none -kernel '$firmware'"
if [ "$order" = listen ]; then
    exec "$quillon_run" --tcp-listen "$port" --spawn "$device -serial tcp:127.0.0.1:{port},nodelay=on" "$@"
fi
# QEMU serves and holds the firmware until quillon-run has connected, and
# quillon-run keeps trying until QEMU's port is open.
exec "$quillon_run" --tcp-connect "127.0.0.1:$port" --spawn "$device -serial tcp:127.0.0.1:{port},server=on,wait=on,nodelay=on" "$@"
