#!/usr/bin/env bash
# The device --spawn started never outlives quillon-run. CASE is one of:
#   killed         the runner is killed (SIGKILL) while the device's shell,
#                  which survives the request to end, runs a compound command
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
*)
    fail "no case $case"
    ;;
esac
