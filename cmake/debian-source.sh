#!/usr/bin/env bash
# Downloads the upstream tarball of a Debian source package (the .orig tarball
# Debian builds its own package from) into a folder, with apt's own client and
# a source list of its own kept in that folder: the machine's apt set-up is
# neither read for sources nor changed. Prints the tarball's path.
#
#   cmake/debian-source.sh PACKAGE FOLDER
set -euo pipefail
package=$1
folder=$2
mkdir -p "$folder/sources.list.d" "$folder/lists/partial" "$folder/cache/archives/partial"
cat > "$folder/sources.list.d/debian-source.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
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
