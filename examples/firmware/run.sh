#!/bin/sh
# Runs the example firmware under QEMU against quillon-run, and ends both.
#
#   examples/firmware/run.sh listen|connect PORT [QUILLON-RUN OPTIONS]
#
# listen:  quillon-run listens on 127.0.0.1:PORT and QEMU connects to it.
# connect: QEMU serves 127.0.0.1:PORT and quillon-run connects to it.
#
# The exit status is quillon-run's. The programs and the firmware are taken
# from QUILLON_RUN, QEMU and FIRMWARE, or from a debug build; DEVICE_DELAY
# starts QEMU that many seconds after quillon-run.
set -eu

if [ $# -lt 2 ] || { [ "$1" != listen ] && [ "$1" != connect ]; }; then
    echo "usage: $0 listen|connect PORT [QUILLON-RUN OPTIONS]" >&2
    exit 2
fi
order=$1
port=$2
shift 2
quillon_run=${QUILLON_RUN:-build/debug/runner/quillon-run}
qemu=${QEMU:-qemu-system-arm}
firmware=${FIRMWARE:-build/debug/examples/firmware/firmware.elf}

# nodelay=on: QEMU writes each byte of the UART in a segment of its own, and
# without it every block waits some 40 ms for the acknowledgements.
serial=tcp:127.0.0.1:$port,nodelay=on
qemu_pid=
runner_pid=
stop() {
    for pid in $runner_pid $qemu_pid; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM

start_qemu() {
    "$qemu" -M lm3s6965evb -display none -monitor none -kernel "$firmware" -serial "$1" &
    qemu_pid=$!
}

if [ "$order" = listen ]; then
    "$quillon_run" --tcp-listen "$port" "$@" &
    runner_pid=$!
    # QEMU as the client gives up at once when nothing listens yet: start it
    # once the port is in the kernel's table of listening sockets (state 0A).
    hex=$(printf '%04X' "$port")
    tries=0
    until grep -q ":$hex 00000000:0000 0A" /proc/net/tcp; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ] || ! kill -0 "$runner_pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    start_qemu "$serial"
else
    # QEMU serves and holds the firmware until quillon-run has connected;
    # quillon-run keeps trying until QEMU's port is open, so it may start
    # first, and DEVICE_DELAY seconds (0) before QEMU.
    "$quillon_run" --tcp-connect "127.0.0.1:$port" "$@" &
    runner_pid=$!
    sleep "${DEVICE_DELAY:-0}"
    start_qemu "$serial,server=on,wait=on"
fi

status=0
wait "$runner_pid" || status=$?
runner_pid=
exit $status
