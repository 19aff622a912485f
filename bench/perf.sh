#!/usr/bin/env bash
# Measures Idlewatch on a virtual X display with 50 real clients, beside the same job done
# the way a user would script it (wmctrl and xprop every scan interval), in one run:
#   - start-up time from exec to the tray icon being embedded;
#   - CPU time over a minute, idle with the popover closed, default settings;
#   - resident memory, beside the floor: a bare Qt tray application (bench/floor) on the
#     same display with the same clients.
# Usage: bench/perf.sh [build-dir] [seconds]     (default build/default, 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-60}
bin="$build/src/app/idlewatch"
client="$build/tests/platform/x11/x11_testclient"
floor="$build/bench/floor/bench_tray_floor"
[ -x "$bin" ] || { echo "perf: build first (./dev build): $bin is missing" >&2; exit 1; }
[ -x "$floor" ] || { echo "perf: $floor is missing (built with the benchmarks)" >&2; exit 1; }
[ -x "$client" ] || { echo "perf: $client is missing" >&2; exit 1; }
for tool in Xvfb openbox tint2 wmctrl xprop xdpyinfo xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "perf: needs $tool (apt-get install wmctrl x11-utils ...)" >&2; exit 1; }
done

tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
mkdir -p "$HOME" "$XDG_CONFIG_HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"

exec 3<> "$tmp/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/displayfd" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$tmp/displayfd")"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
printf 'panel_items = S\npanel_position = top right horizontal\npanel_size = 200 30\n' > "$tmp/tint2rc"
tint2 -c "$tmp/tint2rc" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done

for i in $(seq 50); do
    "$client" --class "perf$i,Perf$i" >/dev/null 2>&1 &
    pids+=($!)
done
for _ in $(seq 200); do
    [ "$(wmctrl -l 2>/dev/null | wc -l)" -ge 50 ] && break
    sleep 0.05
done

cpu_ticks() { awk '{print $14 + $15 + $16 + $17}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# Idlewatch: start-up to the tray icon embedded in tint2's window tree, then a quiet minute.
tray_embedded() {
    local host
    for host in $(xdotool search --class tint2 2>/dev/null); do
        xwininfo -tree -id "$host" | grep -qE '\("idlewatch" .* [1-9][0-9]*x[1-9][0-9]*[+-]' && return 0
    done
    return 1
}
start_ns=$(date +%s%N)
QT_QPA_PLATFORM=xcb "$bin" > /dev/null 2>"$tmp/idlewatch.err" &
iw=$!
pids+=($iw)
startup_ms=
for _ in $(seq 400); do
    if tray_embedded; then
        startup_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
        break
    fi
    sleep 0.01
done
[ -n "$startup_ms" ] || { echo "perf: the tray icon never appeared" >&2; cat "$tmp/idlewatch.err" >&2; exit 1; }

# The scripted equivalent, as a user would write it: every 5 s list the windows with their
# PIDs, read each one's class and the active window.
cat > "$tmp/loop.sh" <<'LOOP'
while :; do
    wmctrl -lp > /dev/null
    for w in $(wmctrl -l | awk '{print $1}'); do
        xprop -id "$w" _NET_WM_PID WM_CLASS _NET_WM_STATE > /dev/null
    done
    xprop -root _NET_ACTIVE_WINDOW > /dev/null
    sleep 5
done
LOOP
bash "$tmp/loop.sh" &
loop=$!
pids+=($loop)

sleep 3 # let both settle
iw0=$(cpu_ticks "$iw"); loop0=$(cpu_ticks "$loop")
sleep "$seconds"
iw1=$(cpu_ticks "$iw"); loop1=$(cpu_ticks "$loop")
rss_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$iw/status")

# The floor, once Idlewatch is measured: the same display, clients and tray host.
QT_QPA_PLATFORM=xcb "$floor" >/dev/null 2>&1 &
fl=$!
pids+=($fl)
sleep 3
floor_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$fl/status")

iw_ms=$(( (iw1 - iw0) * 1000 / hz ))
loop_ms=$(( (loop1 - loop0) * 1000 / hz ))
awk -v iw="$iw_ms" -v loop="$loop_ms" -v s="$seconds" -v rss="$rss_kb" -v up="$startup_ms" -v floor="$floor_kb" 'BEGIN {
    printf "clients                  50\n"
    printf "start-up to tray icon    %d ms\n", up
    printf "resident memory          %.1f MB (bare Qt tray app: %.1f MB, %.2fx)\n", rss / 1024, floor / 1024, rss / floor
    printf "Idlewatch CPU over %ds   %d ms (%.3f %% of one core)\n", s, iw, iw / (s * 10)
    printf "scripted loop CPU        %d ms (%.3f %% of one core)\n", loop, loop / (s * 10)
    if (iw > 0) printf "scripted / Idlewatch     %.0fx\n", loop / iw
    else printf "scripted / Idlewatch     more than %dx (Idlewatch used under one clock tick)\n", loop / 10
}'
