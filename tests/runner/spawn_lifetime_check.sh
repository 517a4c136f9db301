#!/usr/bin/env bash
# The device --spawn started never outlives quillon-run. CASE is one of:
#   killed         the runner is killed (SIGKILL) while the device's shell,
#                  which survives the request to end, runs a compound command
#   output-closed  the reader of the runner's standard output ends: the run
#                  ends with the status SIGTERM gives it
# Usage: spawn_lifetime_check.sh CASE QUILLON_RUN DEMO_DEVICE FOLDER
set -euo pipefail
case=$1 run=$2 device=$3 folder=$4
rm -rf "$folder"
mkdir -p "$folder"

fail() {
    echo "FAIL: $*" >&2
    cat "$folder"/*.err >&2 2>/dev/null || true
    exit 1
}
# Waits up to ten seconds for a file to be written.
wait_for() {
    for _ in $(seq 100); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    fail "$1 was never written"
}
# The process group of a process.
group_of() {
    sed 's/^.*) //' "/proc/$1/stat" | cut -d' ' -f3
}
# Whether a process of group $1 still runs (a zombie has ended).
group_runs() {
    { sed 's/^.*) //' /proc/[0-9]*/stat 2>/dev/null || true; } |
        awk -v group="$1" '$3 == group && $1 != "Z" { found = 1 } END { exit !found }'
}
# Fails unless nothing of group $1 runs within ten seconds.
expect_group_ends() {
    for _ in $(seq 100); do
        group_runs "$1" || return 0
        sleep 0.1
    done
    fail "group $1 still runs"
}
# Fails unless the processes the files name have ended within ten seconds.
expect_ended() {
    local file state
    for file; do
        for _ in $(seq 100); do
            state=$({ sed 's/^.*) //' "/proc/$(cat "$file")/stat" 2>/dev/null || true; } | cut -d' ' -f1)
            [ -z "$state" ] || [ "$state" = Z ] && continue 2
            sleep 0.1
        done
        fail "$(cat "$file") of $file still runs"
    done
}

# The demo device, with a program of its own beside it, in folder $1:
# device.pid and background.pid name them.
device_command() {
    echo "sleep 300 & echo \$! > $1/background.pid; echo \$\$ > $1/device.pid; exec '$device' --port {port}"
}

case $case in
killed)
    # The shell lives through SIGTERM, so its next program starts after the
    # request to end: only a kill of the whole group ends that one.
    command="trap true TERM; sleep 300 & echo \$! > $folder/first.pid; wait; sleep 301 & wait"
    "$run" --tcp-listen 0 -q --run-for 60s --artifacts "$folder" --spawn "$command" 2>"$folder/run.err" &
    runner=$!
    wait_for "$folder/first.pid"
    group=$(group_of "$(cat "$folder/first.pid")")
    group_runs "$group" || fail "the device's group $group does not run"
    kill -KILL "$runner"
    wait "$runner" || true
    expect_group_ends "$group"
    ;;
output-closed)
    # The same device stopped by SIGTERM, for the status that gives.
    mkdir "$folder/term"
    "$run" --virtual-port --trace - --artifacts "$folder/term" --spawn "$(device_command "$folder/term")" \
        >/dev/null 2>"$folder/term.err" &
    runner=$!
    wait_for "$folder/term/background.pid"
    kill -TERM "$runner"
    term_status=0
    wait "$runner" || term_status=$?

    # The virtual port's path and two rows of the trace are read, then the
    # reader ends while the device goes on talking.
    mkdir "$folder/closed"
    set +e
    timeout -s KILL 60 "$run" --virtual-port --trace - --artifacts "$folder/closed" \
        --spawn "$(device_command "$folder/closed")" 2>"$folder/closed.err" | head -3 >/dev/null
    closed_status=${PIPESTATUS[0]}
    set -e
    [ "$closed_status" = "$term_status" ] ||
        fail "exit status $closed_status when the output closed, $term_status on SIGTERM"
    expect_ended "$folder/closed/device.pid" "$folder/closed/background.pid"
    ;;
*)
    fail "no case $case"
    ;;
esac
