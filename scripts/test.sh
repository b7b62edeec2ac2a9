#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then the whole suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen

build() {  # build <dir> <cmake options...>
    local dir="$1"; shift
    [ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja "$@"
    cmake --build "$dir"
}

build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 600

if [ "${MOVEXA_SKIP_SANITIZERS:-0}" != 1 ]; then
    build "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DMOVEXA_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$root/build-sanitize" --output-on-failure -j2 --timeout 900
fi
