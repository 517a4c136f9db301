#!/usr/bin/env bash
# The source list cmake/debian-source.sh makes comes from the machine's apt
# configuration: deb822 stanzas and one-line entries become deb-src entries
# for the same archives, and a machine with none configured is refused.
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
list_for() {
    DEBIAN_SOURCE_LIST_ONLY=1 DEBIAN_SOURCE_APT_ETC=$1 bash "$script" somepackage "$work/out" 2>"$work/err"
}

etc=$work/deb822
mkdir -p "$etc/sources.list.d"
cat >"$etc/sources.list.d/main.sources" <<'SOURCES'
Types: deb
URIs: file:/srv/mirror/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/example.gpg

Types: deb
URIs: file:/srv/off/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb-src
URIs: file:/srv/src-only/debian
Suites: bookworm
Components: main
SOURCES
out=$(list_for "$etc")
expected='Types: deb-src
URIs: file:/srv/mirror/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/example.gpg'
[ "$out" = "$expected" ] || fail "deb822 list was: $out"

etc=$work/one-line
mkdir -p "$etc/sources.list.d"
cat >"$etc/sources.list" <<'SOURCES'
# a comment
deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] file:/srv/mirror/debian bookworm main non-free
deb-src file:/srv/ignored/debian bookworm main
SOURCES
out=$(list_for "$etc")
expected='Types: deb-src
URIs: file:/srv/mirror/debian
Suites: bookworm
Components: main non-free
Signed-By: /usr/share/keyrings/k.gpg'
[ "$out" = "$expected" ] || fail "one-line list was: $out"

etc=$work/none
mkdir -p "$etc/sources.list.d"
if list_for "$etc" >/dev/null; then
    fail "a machine with no archive configured was accepted"
fi
grep -q "no Debian archive is configured" "$work/err" || fail "message was: $(cat "$work/err")"
echo "debian-source.sh: 3 cases passed"
