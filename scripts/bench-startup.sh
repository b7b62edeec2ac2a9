#!/usr/bin/env bash
# Start-up to the window shown and resident memory, offscreen: the panel, the
# panel on its virtual stage (connected before it is shown), a minimal Qt
# Widgets program with one empty window, and that window after one serial
# port enumeration, alternated in one run.
# Usage: scripts/bench-startup.sh [runs]   (needs a configured build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake --build "$root/build" --target bench_start_panel bench_start_virtual bench_start_minimal bench_start_ports >/dev/null
export QT_QPA_PLATFORM=offscreen
runs="${1:-20}"
cd "$root/build/app"   # where ./motor.png lies
for i in $(seq "$runs"); do
    for prog in minimal ports panel virtual; do
        t0=$(date +%s%N)
        read -r shown rss < <("$root/build/bench/bench_start_$prog" 2>/dev/null)
        echo "$prog $(( (shown - t0) / 1000 )) $rss"
    done
done | awk '
    { us[$1, ++n[$1]] = $2; rss[$1] += $3 }
    END {
        for (p in n) {
            m = n[p]; for (i = 1; i <= m; i++) v[i] = us[p, i]
            for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
            med[p] = v[int((m + 1) / 2)] / 1000; mem[p] = rss[p] / m / 1024
            printf "%-8s start-up median %.1f ms, resident %.1f MiB (%d runs)\n", p, med[p], mem[p], m
        }
        printf "ratio    panel/minimal: start-up %.2f, resident %.2f\n", med["panel"] / med["minimal"], mem["panel"] / mem["minimal"]
        printf "ratio    panel/ports:   start-up %.2f, resident %.2f\n", med["panel"] / med["ports"], mem["panel"] / mem["ports"]
        printf "ratio    virtual/panel: start-up %.2f, resident %.2f\n", med["virtual"] / med["panel"], mem["virtual"] / mem["panel"]
    }'
