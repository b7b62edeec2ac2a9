#!/usr/bin/env bash
# Builds the Debian package in build/ (movexa_<version>_<arch>.deb) and checks
# it with Debian's own tools: lintian (errors fail the run) and
# desktop-file-validate.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" dpkg-dev file help2man lintian desktop-file-utils
build="$root/build"

# Same tree, same bytes: file times in the package and the date in the
# generated manual page come from the last commit, not from the clock.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)"
    export SOURCE_DATE_EPOCH
fi

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Configure again: a help2man installed just now must be found.
cmake "$build" >/dev/null
cmake --build "$build" --target movexa movexa-stage-sim movexa-ctl movexa_docs
rm -f "$build"/movexa_*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/movexa_*.deb)"

lintian --fail-on error "$deb"
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/movexa.desktop"
echo "package: $deb"
