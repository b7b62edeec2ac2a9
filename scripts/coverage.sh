#!/usr/bin/env bash
# Line coverage of the product folders: a separate build with --coverage in
# build-coverage, the whole suite run once, then one summary line per folder.
# Needs gcovr (Debian package gcovr).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build-coverage"
if ! command -v gcovr >/dev/null; then
    echo "coverage.sh: gcovr is missing (apt-get install gcovr)" >&2
    exit 1
fi
[ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage
cmake --build "$dir" -j2
find "$dir" -name '*.gcda' -delete  # counts from this run only
QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -j2 --output-on-failure || true
cd "$root"
for folder in app link settings sim remote clients; do
    # "lines: 93.1% (1204 out of 1293)" -> "sim      93.1% (1204 out of 1293)". The report
    # goes to the pipe: gcovr replaces an output file given with -o, a device such as
    # /dev/null included.
    gcovr -r . --object-directory "$dir" --exclude-directories "$dir/CMakeFiles/[0-9]" \
        --filter "$folder/" --print-summary |
        sed -n "s|^lines: |$(printf '%-9s' "$folder")|p"
done
