#!/usr/bin/env bash
# Sets up, builds and starts the panel: on the real controller when one is
# attached (a serial port with USB product id 6015), otherwise on the built-in
# virtual stage. Usage: scripts/run.sh [--real | --virtual] [movexa options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

choice=auto
args=()
for a in "$@"; do
    case "$a" in
        --real) choice=real ;;
        --virtual) choice=virtual ;;
        *) args+=("$a") ;;
    esac
done

# Quietly, so that the first line says what runs; the log is shown on failure.
# On a terminal a note that erases itself says why nothing shows meanwhile
# (a first build takes minutes).
mkdir -p "$root/build"
log="$root/build/run.log"
[ -t 1 ] && printf 'Setting up and building the panel (log: %s)...' "$log"
if ! { "$root/scripts/setup.sh" &&
       { [ -f "$root/build/build.ninja" ] ||
         cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo; } &&
       cmake --build "$root/build" --target movexa movexa-ctl;
     } >"$log" 2>&1; then
    [ -t 1 ] && printf '\n'
    tail -n 40 "$log" >&2
    echo "Setting up or building the panel failed; the whole log is in $log" >&2
    exit 1
fi

[ -t 1 ] && printf '\r\033[K'

# The panel lists the ports itself (it knows their USB ids on every platform).
movexa="$root/build/app/movexa"
controller="$("$movexa" --list-ports 2>/dev/null | grep -m1 ' product 6015 ' | cut -d' ' -f1 || true)"
forced=$choice
case " ${args[*]-} " in
    *" --virtual-stage "* | *" --controller-port"*) choice=given ;;
    *" --help "* | *" -h "* | *" --version "* | *" -v "* | *" --list-ports "*) choice=none ;;
esac
if [ "$choice" = auto ]; then
    choice=$([ -n "$controller" ] && echo real || echo virtual)
fi
case "$choice" in
    real)
        if [ -n "$controller" ]; then
            note="Starting the panel on the real controller at $controller; 'scripts/run.sh --virtual' starts it on the virtual stage instead."
        else
            note="Starting the panel for the real controller, but none is attached (no serial port with USB product id 6015); 'scripts/run.sh --virtual' starts it on the virtual stage."
        fi ;;
    virtual)
        if [ "$forced" = virtual ]; then
            note="Starting the panel on the virtual stage; 'scripts/run.sh --real' starts it on the real controller instead."
        else
            note="No controller attached (no serial port with USB product id 6015): starting the panel on the virtual stage; with the stage plugged in, 'scripts/run.sh' starts it on the real controller."
        fi
        args=(--virtual-stage "${args[@]+"${args[@]}"}") ;;
    given)
        note="Starting the panel with the controller its options name; 'scripts/run.sh --real' or '--virtual' chooses for you." ;;
    none) note="" ;;
esac
# A mistake in the options is reported before anything is announced.
"$movexa" --check-options "${args[@]+"${args[@]}"}" || exit $?
[ -z "$note" ] || echo "$note"

if [ "$choice" != none ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running the panel on Qt's offscreen platform (nothing will be shown)."
    export QT_QPA_PLATFORM=offscreen
fi
# The panel reads its icon from ./motor.png in the working directory.
cd "$root/build/app"
exec ./movexa "${args[@]+"${args[@]}"}"
