# Sourced by the benchmarks of quillon-run, from the project's root: sets
# `program` to an optimised quillon-run (QUILLON_RUN names one built
# elsewhere; otherwise it is built in BUILD_DIR, build/bench by default) and
# prints the machine the figures are taken on.
build=${BUILD_DIR:-build/bench}

program=${QUILLON_RUN:-$build/runner/quillon-run}
if [ -z "${QUILLON_RUN:-}" ]; then
    scripts/install-deps.sh
    if [ "$build" = build/bench ]; then
        cmake --preset bench >/dev/null
    else
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_UI=OFF \
            >/dev/null
    fi
    cmake --build "$build" -j 2 --target quillon-run
fi

echo "## Machine"
echo
echo "- processors: $(nproc), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "- load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- commit: $(git rev-parse --short HEAD)"
echo
