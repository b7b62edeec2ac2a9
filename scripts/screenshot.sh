#!/usr/bin/env bash
# Regenerates docs/screenshot.png: the panel in a real X server (Xvfb), on its
# virtual stage, connected, mid-loop (tools/screenshot.cpp grabs the window).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth
[ -f "$root/build/build.ninja" ] || cmake -S "$root" -B "$root/build" -G Ninja
cmake --build "$root/build" --target movexa-screenshot
out="$root/docs/screenshot.png"
mkdir -p "$root/docs"
cd "$root/build/app"   # where ./motor.png lies
xvfb-run -a -s "-screen 0 1280x900x24" "$root/build/tools/movexa-screenshot" "$out"
echo "wrote $out"
