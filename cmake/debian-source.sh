#!/usr/bin/env bash
# Downloads the upstream tarball of a Debian source package (the .orig tarball
# Debian builds its own package from) into a folder, with apt's own client and
# a source list of its own kept in that folder: the machine's apt set-up is
# read for where its archives are, never changed. Prints the tarball's path.
#
#   cmake/debian-source.sh PACKAGE FOLDER
#
# The deb-src list is made from the machine's own "deb" entries (their URIs,
# suites and keys), in deb822 files under sources.list.d or one-line entries
# in sources.list, so it names whatever archive or mirror the machine uses.
set -euo pipefail
package=$1
folder=$2
apt_etc=${DEBIAN_SOURCE_APT_ETC:-/etc/apt}
mkdir -p "$folder/sources.list.d" "$folder/lists/partial" "$folder/cache/archives/partial"
list=$folder/sources.list.d/debian-source.sources

# One "deb-src" stanza per enabled "deb" stanza of a deb822 file: the stanza
# is kept as it is, with its Types line changed.
deb822_sources() {
    awk '
        function flush() {
            if (stanza != "" && is_deb && enabled) printf "%s\n", stanza
            stanza = ""; is_deb = 0; enabled = 1
        }
        BEGIN { enabled = 1 }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        /^Types:/ { if ($0 ~ /[ \t]deb([ \t]|$)/) is_deb = 1; $0 = "Types: deb-src" }
        /^Enabled:[ \t]*no/ { enabled = 0 }
        { stanza = stanza $0 "\n" }
        END { flush() }
    ' "$@"
}

# One-line entries: "deb [options] URI SUITE COMPONENT..." becomes a stanza.
one_line_sources() {
    awk '
        $1 != "deb" { next }
        {
            signed = ""; i = 2
            if ($2 ~ /^\[/) {
                while (i <= NF) {
                    if ($i ~ /^\[?signed-by=/) { signed = $i; sub(/^\[?signed-by=/, "", signed); sub(/\]$/, "", signed) }
                    if ($i ~ /\]$/) { i++; break }
                    i++
                }
            }
            printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $i, $(i + 1)
            for (j = i + 2; j <= NF; j++) printf " %s", $j
            printf "\n"
            if (signed != "") printf "Signed-By: %s\n", signed
            printf "\n"
        }
    ' "$@"
}

: >"$list"
shopt -s nullglob
deb822=("$apt_etc"/sources.list.d/*.sources)
one_line=("$apt_etc"/sources.list.d/*.list)
[ -f "$apt_etc/sources.list" ] && one_line=("$apt_etc/sources.list" "${one_line[@]}")
if [ ${#deb822[@]} -gt 0 ]; then
    deb822_sources "${deb822[@]}" >>"$list"
fi
if [ ${#one_line[@]} -gt 0 ]; then
    one_line_sources "${one_line[@]}" >>"$list"
fi
if ! grep -q '^URIs:' "$list"; then
    echo "debian-source.sh: no Debian archive is configured in $apt_etc (sources.list or sources.list.d): cannot fetch the source of $package" >&2
    exit 1
fi
if [ -n "${DEBIAN_SOURCE_LIST_ONLY:-}" ]; then
    cat "$list"
    exit 0
fi

apt_options=(
    -qq
    -o "Dir::Etc::SourceList=$folder/none.list"
    -o "Dir::Etc::SourceParts=$folder/sources.list.d"
    -o "Dir::State::Lists=$folder/lists"
    -o "Dir::Cache=$folder/cache"
)
# As root, apt would hand the download to its own user, who cannot write here.
if [ "$(id -u)" -eq 0 ]; then
    apt_options+=(-o "APT::Sandbox::User=root")
fi
touch "$folder/none.list"
apt-get "${apt_options[@]}" update >&2
(cd "$folder" && apt-get "${apt_options[@]}" source --download-only "$package" >&2)
ls "$folder"/"${package}"_*.orig.tar.*
