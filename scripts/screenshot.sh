#!/usr/bin/env bash
# Regenerates docs/screenshot.png: the panel in a real X server (Xvfb).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth imagemagick
[ -f "$root/build/build.ninja" ] || cmake -S "$root" -B "$root/build" -G Ninja
cmake --build "$root/build" --target movexa
out="$root/docs/screenshot.png"
mkdir -p "$root/docs"
cd "$root/build/app"
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    ./movexa & pid=$!
    # Give the window time to map and paint; this is a script, not a test.
    sleep 3
    import -window root /tmp/movexa-root.png
    kill $pid'
convert /tmp/movexa-root.png -trim +repage "$out"
echo "wrote $out"
