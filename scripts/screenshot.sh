#!/usr/bin/env bash
# Regenerates docs/screenshot.png: the panel in a real X server (Xvfb), on its
# virtual stage, connected, with the stage's type, serial number and position.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth imagemagick
[ -f "$root/build/build.ninja" ] || cmake -S "$root" -B "$root/build" -G Ninja
cmake --build "$root/build" --target movexa
out="$root/docs/screenshot.png"
mkdir -p "$root/docs"
shot="$(mktemp --suffix=.png)"  # /tmp is shared: never a fixed name
trap 'rm -f "$shot"' EXIT
export shot
cd "$root/build/app"
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    ./movexa --virtual-stage --stage-type rotation --serial-number 4711 & pid=$!
    # Give the window time to map, connect (set-up after 0.5 s) and paint;
    # this is a script, not a test.
    sleep 3
    import -window root "$shot"
    kill $pid'
convert "$shot" -trim +repage "$out"
echo "wrote $out"
