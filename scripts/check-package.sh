#!/usr/bin/env bash
# Installs the package that package.sh built, as a user would, and checks the
# installed programs: their options, the panel opening on a display and
# closing with exit code 0, and that removing the package leaves nothing.
# It changes the system: meant for CI machines and throw-away containers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth xdotool libx11-protocol-perl
deb="$(ls "$root"/build/movexa_*.deb)"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# apt resolves the Qt libraries the package depends on.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o Dpkg::Use-Pty=0 "$deb"
cd /tmp   # nothing from the source tree may stand in for an installed file
unset QT_QPA_PLATFORM

timeout 20 movexa --version
movexa-stage-sim --help >/dev/null
movexa-ctl --help >/dev/null
/usr/bin/python3 -c 'import movexa_client'

# Both clients drive the installed panel on its virtual stage.
work="$(mktemp -d)"
QT_QPA_PLATFORM=offscreen movexa --virtual-stage --control-socket "$work/s.sock" \
    >"$work/panel.log" 2>&1 & panel=$!
for _ in $(seq 100); do
    movexa-ctl --socket "$work/s.sock" status 2>/dev/null | grep -q connected=true && break
    sleep 0.1
done
rc=0
timeout 30 movexa-ctl --socket "$work/s.sock" move 0.5 --wait || rc=$?
timeout 30 /usr/bin/python3 -c 'import movexa_client as m, sys
print(m.Stage(sys.argv[1]).move(0.2))' "$work/s.sock" || rc=$?
kill "$panel"; wait "$panel" || true
[ "$rc" -eq 0 ] || { echo "the clients failed on the panel" >&2; cat "$work/panel.log" >&2; exit 1; }
rm -rf "$work"
echo "movexa-ctl and the Python client moved the panel's virtual stage"

# The panel has no quit command, so close its window the way a window
# manager does: a WM_DELETE_WINDOW message. Qt then quits with exit code 0.
# The window is found by its title; every wait is bounded.
xvfb-run -a -s "-screen 0 1280x900x24" bash -euc '
    cd /usr/share/movexa
    movexa >/tmp/movexa-check.log 2>&1 & pid=$!
    wid="$(timeout 30 xdotool search --sync --onlyvisible --name "^Movexa\$" | head -n 1)" || true
    if [ -z "$wid" ]; then
        echo "the panel showed no window" >&2; kill "$pid"; exit 1
    fi
    perl -MX11::Protocol -e '\''
        my $x = X11::Protocol->new;
        my $w = $ARGV[0];
        $x->SendEvent($w, 0, 0, $x->pack_event(name => "ClientMessage", window => $w,
            type => $x->atom("WM_PROTOCOLS"), format => 32,
            data => pack("L5", $x->atom("WM_DELETE_WINDOW"), 0, 0, 0, 0)));
        $x->GetInputFocus;  # a round trip: the message has gone out
    '\'' "$wid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "the panel did not close within 10 s" >&2; kill "$pid"; exit 1
    fi
    rc=0; wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] || { echo "the panel exited with $rc" >&2; cat /tmp/movexa-check.log >&2; exit 1; }
'
echo "panel opened and closed with exit code 0"

# Removal: every file the package brought must be gone afterwards.
files="$(dpkg -L movexa | while read -r f; do [ -d "$f" ] || echo "$f"; done)"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq -o Dpkg::Use-Pty=0 movexa
left=""
for f in $files /usr/share/movexa /usr/share/doc/movexa; do [ ! -e "$f" ] || left="$left $f"; done
[ -z "$left" ] || { echo "left behind after purge:$left" >&2; exit 1; }
echo "package installed, checked and removed cleanly"
