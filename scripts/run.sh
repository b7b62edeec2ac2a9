#!/usr/bin/env bash
# Sets up, builds and starts the panel.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
[ -f "$root/build/build.ninja" ] || cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" --target movexa

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running the panel on Qt's offscreen platform (nothing will be shown)."
    export QT_QPA_PLATFORM=offscreen
fi
# The panel reads its icon from ./motor.png in the working directory.
cd "$root/build/app"
exec ./movexa "$@"
