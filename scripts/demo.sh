#!/usr/bin/env bash
# Idlewatch at work on a virtual X display, with screenshots.
#
# Installs the build into a temporary prefix, starts Xvfb, openbox and tint2 (the tray), two
# xterms and xclock, and the installed Idlewatch with a one-minute timeout. It photographs
# the popover, every settings pane, the application chooser, the popover with 40 more
# applications, the tray icon's menu and the popover paused from that menu, then waits in
# real time (about a minute) until the background applications have been closed while the
# xterm in front keeps running, and photographs the popover again. Then it quits Idlewatch
# from the tray menu and starts it again under a dark KDE colour scheme and a dark tint2
# panel for the popover and two panes in the dark. Last, on a private session bus, the tray
# icon on a light and a dark xfce4-panel (StatusNotifierItem), and dunst showing the notices
# before and after an xterm and xclock are closed. Everything it starts is stopped when it
# ends, however.
#
# Usage: scripts/demo.sh [output-folder] [build-dir]     (default build/demo, build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/demo}
build=${2:-build/default}

log() { printf '\033[1m==> %s\033[0m\n' "$*"; }
die() {
    printf 'demo: %s\n' "$*" >&2
    # What the screen showed, to see why.
    [ -z "${own_display:-}" ] || import -window root "$out/full/failure.png" 2>/dev/null || true
    exit 1
}

[ -x "$build/src/app/idlewatch" ] || die "build first (./dev build): $build/src/app/idlewatch is missing"
for tool in Xvfb openbox tint2 xdotool xwininfo xprop xterm xclock import convert display \
    dbus-daemon xfce4-panel xfconf-query dunst; do
    command -v "$tool" >/dev/null || die "needs $tool (./dev installs it)"
done

mkdir -p "$out/full"
rm -f "$out/full/failure.png"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/idlewatch-demo.XXXXXX")
pids=()

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # Newest first: Idlewatch and the clients before the tray, the window manager and X.
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for _ in $(seq 30); do
        local left=0
        for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && left=1; done
        [ "$left" = 0 ] && break
        sleep 0.1
    done
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# True while the process runs (a zombie counts as ended).
alive() {
    kill -0 "$1" 2>/dev/null && ! grep -qs '^[0-9]* ([^)]*) Z' "/proc/$1/stat"
}

ended() { ! alive "$1"; }

# Polls a command until it succeeds or the seconds run out.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

log "Installing into a temporary prefix"
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || die "cmake --install failed"
idlewatch="$prefix/bin/idlewatch"

# A private desktop: own HOME and XDG folders, no session bus (Qt then uses the XEmbed tray).
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
export XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime"
export XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
unset WAYLAND_DISPLAY XDG_SESSION_TYPE SESSION_MANAGER XDG_CURRENT_DESKTOP
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

log "Starting Xvfb, openbox and tint2"
exec 3<>"$tmp/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_until 15 test -s "$tmp/displayfd" || die "Xvfb did not start: $(cat "$tmp/xvfb.log")"
DISPLAY=":$(head -n1 "$tmp/displayfd")"
export DISPLAY
own_display=1
openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
pids+=($!)
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 15 wm_ready ||
    die "openbox did not start"
convert -size 1280x800 gradient:'#4b6a88-#1f2d3b' "$tmp/background.png"
display -window root "$tmp/background.png" || true
# The tray: tint2 across the top, its background the colour $1.
start_panel() {
    cat >"$tmp/tint2rc" <<EOF
rounded = 0
border_width = 0
background_color = $1 100
border_color = #000000 0
panel_items = FS
panel_position = top center horizontal
panel_size = 100% 30
panel_background_id = 1
systray_padding = 10 0 10
systray_icon_size = 22
EOF
    tint2 -c "$tmp/tint2rc" >>"$tmp/tint2.log" 2>&1 &
    panel=$!
    pids+=("$panel")
}
start_panel '#ececec'

log "Starting two xterms and xclock"
xterm -geometry 72x18+40+90 -T "xterm in front" \
    -e sh -c 'echo "This xterm stays in front: Idlewatch leaves it open."; exec sh' &
front=$!
pids+=("$front")
xterm -geometry 72x18+40+420 -T "xterm in the background" \
    -e sh -c 'echo "Nobody uses this xterm: Idlewatch closes it after a minute."; exec sh' &
back=$!
pids+=("$back")
xclock -geometry 180x180+560+420 &
clock=$!
pids+=("$clock")
window_of() { timeout 20 xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n1; }
front_window=$(window_of "$front")
[ -n "$front_window" ] || die "the first xterm has no window"
[ -n "$(window_of "$back")" ] || die "the second xterm has no window"
[ -n "$(window_of "$clock")" ] || die "xclock has no window"
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
activate() {
    local deadline=$((SECONDS + 10))
    until is_active "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        xdotool windowactivate "$1" 2>/dev/null || true
        sleep 0.2
    done
}
activate "$front_window" || die "cannot bring the first xterm to the front"

# A one-minute timeout and one exclusion, Vim (not running), so that the exclusion lists
# have something to show. The demo clicks and types until the last moment, so the apps are
# asked without waiting for two minutes without input ("Only quit while I'm away" off).
excluded=$(printf '[{"bundleIdentifier":"vim","name":"Vim","path":"%s"}]' \
    /usr/share/applications/vim.desktop | base64 -w0)
mkdir -p "$XDG_CONFIG_HOME/Idlewatch"
cat >"$XDG_CONFIG_HOME/Idlewatch/defaults.json" <<EOF
{"format":"com.Idlewatch.defaults","version":1,
 "values":{"minutesUntilClose":{"integer":"1"},"onlyQuitWhileAway":{"boolean":false},
           "com.Idlewatch.excludedApps":{"data":"$excluded"}}}
EOF
: >"$out/idlewatch.log"

# What the running instance reports (idlewatch --status, one line of JSON).
status() { "$idlewatch" --status 2>/dev/null; }
# The seconds left of every listed application, one a line ("secondsLeft" is theirs alone).
seconds_left_of_apps() { status | grep -o '"secondsLeft":-\?[0-9]*' | cut -d: -f2; }
app_count() { seconds_left_of_apps | wc -l; }
counting() { [ -n "$(seconds_left_of_apps)" ]; }
# Some application is down to its last 50 seconds.
down_to_seconds() { seconds_left_of_apps | awk '$1 <= 50 { found = 1 } END { exit !found }'; }
only_one_xterm() { [ "$(app_count)" = 1 ] && status | grep -q '"name":"XTerm"'; }
at_least_apps() { [ "$(app_count)" -ge "$1" ]; }
at_most_apps() { [ "$(app_count)" -le "$1" ]; }
selected_is() { status | grep -q "\"settingsPane\":\"$1\""; }
paused() { status | grep -q '"quittingEnabled":false'; }
resumed() { status | grep -q '"quittingEnabled":true'; }
settings_gone() { status | grep -q '"settingsPane":null'; }

# A window's inside in root coordinates, "x y w h".
geometry_of() {
    xwininfo -id "$1" | awk -F: '
        /Absolute upper-left X/ { x = $2 } /Absolute upper-left Y/ { y = $2 }
        /^ *Width/ { w = $2 } /^ *Height/ { h = $2 }
        END { print x + 0, y + 0, w + 0, h + 0 }'
}
# The tray icon as tint2 embedded it, "id x y w h": its line in tint2's window tree ends
# with its size and its place on the screen.
tray_icon() {
    local host
    for host in $(xdotool search --class tint2 2>/dev/null); do
        xwininfo -tree -id "$host" | awk '/\("idlewatch" / {
            split($(NF - 1), size, /[x+-]/); split($NF, at, "+")
            print $1, at[2], at[3], size[1], size[2]; exit }'
    done | head -n1
}
tray_ready() { [ -n "$(tray_icon)" ]; }

# Starts the installed Idlewatch with the environment's extra settings ("NAME=value"...) and
# waits for its tray icon; leaves its place, "x y w h", in $tray.
start_idlewatch() {
    env QT_QPA_PLATFORM=xcb "$@" "$idlewatch" >>"$out/idlewatch.log" 2>&1 &
    idlewatch_pid=$!
    pids+=("$idlewatch_pid")
    started=$SECONDS
    wait_until 20 tray_ready || die "the tray icon never appeared: $(cat "$out/idlewatch.log")"
    read -r tray_id tray_x tray_y tray_w tray_h <<<"$(tray_icon)"
    tray="$tray_x $tray_y $tray_w $tray_h"
}

# The open popover's window: named like the tray icon's, but not in the tray.
popover_window() {
    xdotool search --onlyvisible --name '^Idlewatch$' 2>/dev/null |
        while read -r w; do [ "$(printf '0x%x' "$w")" = "$tray_id" ] || echo "$w"; done | head -n1
}
popover_shown() { [ -n "$(popover_window)" ]; }
popover_gone() { ! popover_shown; }
# Clicks the middle of the rectangle "x y w h" (with mouse button $2, 1 unless given).
click_on() {
    local x y w h
    read -r x y w h <<<"$1"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "${2:-1}"
}
close_popover() {
    popover_shown || return 0
    xdotool key Escape
    wait_until 5 popover_gone
    sleep 0.3 # a click right after closing would count as the closing click
}
# Opens the popover anew from the tray (a screenshot upsets an open popup's pointer grab)
# and leaves its place, "x y w h", in $popover.
open_popover() {
    close_popover
    click_on "$tray"
    wait_until 10 popover_shown || return 1
    sleep 0.5 # placed again after its first render; let that reach the screen
    popover=$(geometry_of "$(popover_window)")
}

# The tray icon's menu: an unmanaged window of Idlewatch's on the root, shown, the only one
# while the popover is closed.
menu_window() {
    local w
    for w in $(xwininfo -root -children | awk '/\("idlewatch" "Idlewatch"\)/ { print $1 }'); do
        xwininfo -id "$w" | grep -q 'Map State: IsViewable' && echo "$w"
    done | head -n1
}
menu_shown() { [ -n "$(menu_window)" ]; }
menu_gone() { ! menu_shown; }
# Right-clicks the tray icon and leaves the menu's place, "x y w h", in $menu.
open_tray_menu() {
    close_popover
    click_on "$tray" 3
    wait_until 10 menu_shown || return 1
    sleep 0.3
    menu=$(geometry_of "$(menu_window)")
}

# Saves the whole screen as full/$1.png and the rectangle "x y w h" (plus a margin of $3) as
# $1.png.
shoot() {
    local name=$1 x y w h margin=${3:-0}
    import -window root "$out/full/$name.png"
    read -r x y w h <<<"$2"
    x=$((x - margin < 0 ? 0 : x - margin))
    y=$((y - margin < 0 ? 0 : y - margin))
    w=$((w + 2 * margin))
    h=$((h + 2 * margin))
    convert "$out/full/$name.png" -crop "${w}x${h}+${x}+${y}" +repage -strip "$out/$name.png"
}
# The smallest rectangle holding both "x y w h" rectangles.
union() {
    awk '{ l = ($1 < $5 ? $1 : $5); t = ($2 < $6 ? $2 : $6)
           r = ($1 + $3 > $5 + $7 ? $1 + $3 : $5 + $7); b = ($2 + $4 > $6 + $8 ? $2 + $4 : $6 + $8)
           print l, t, r - l, b - t }' <<<"$1 $2"
}
# The applications as --status lists them, one a line.
show_apps() { status | grep -o '{[^{}]*"secondsLeft"[^{}]*}' | sed 's/^/    /' || true; }

# Opens the settings window from the popover's footer, with the General pane selected.
open_settings() {
    open_popover || die "the popover did not open"
    # "Settings" is the footer's second-to-last item, above "Quit Idlewatch".
    local x y w h
    read -r x y w h <<<"$popover"
    xdotool mousemove $((x + w / 2)) $((y + h - 42)) click 1
    wait_until 20 selected_is general || die "the settings window did not open"
    settings_window=$(xdotool search --onlyvisible --name '^Idlewatch Settings$' | head -n1)
    activate "$settings_window" || die "cannot bring the settings window to the front"
    sleep 0.5 # placed by the window manager
}
# Its frame: the window's inside grown by the decorations the window manager reports.
settings_frame() {
    local x y w h left right top bottom
    read -r x y w h <<<"$(geometry_of "$settings_window")"
    read -r left right top bottom <<<"$(xprop -id "$settings_window" _NET_FRAME_EXTENTS |
        sed 's/.*= //; s/,/ /g')"
    echo $((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))
}
close_settings() {
    xdotool key alt+F4
    wait_until 10 settings_gone || echo "    (the settings window stayed open)"
}
# With the sidebar holding the keyboard, Up and Down move to pane $2 and wait for it; the
# pane names in sidebar order.
panes=(general presets behavior appearance trayIcon exclusions appTimeouts advanced support)
select_pane() {
    local i from=-1 to=-1 key=Down
    for i in "${!panes[@]}"; do
        selected_is "${panes[i]}" && from=$i
        [ "${panes[i]}" = "$1" ] && to=$i
    done
    [ "$from" -ge 0 ] && [ "$to" -ge 0 ] || return 1
    [ "$to" -lt "$from" ] && key=Up
    for ((i = from; i != to; i += (to > from ? 1 : -1))); do xdotool key "$key"; done
    wait_until 10 selected_is "$1" || return 1
    sleep 0.4
}
# The application chooser, opened from the Exclusions pane's "Add App", with a search typed.
chooser_window() { xdotool search --onlyvisible --name '^Choose App to Exclude$' 2>/dev/null | head -n1; }
chooser_shown() { [ -n "$(chooser_window)" ]; }
chooser_gone() { ! chooser_shown; }
shoot_chooser() {
    local name=$1 search=$2 chooser
    select_pane exclusions || die "the exclusions pane was not selected"
    # "Add App" sits at the top left of the pane's only card, at a fixed place in the frame.
    local x y w h
    read -r x y w h <<<"$(settings_frame)"
    xdotool mousemove $((x + 299)) $((y + 164)) click 1
    wait_until 10 chooser_shown || die "the application chooser did not open"
    chooser=$(chooser_window)
    sleep 0.5
    [ -z "$search" ] || xdotool type --delay 60 "$search"
    sleep 0.4
    shoot "$name" "$(union "$(settings_frame)" "$(geometry_of "$chooser")")"
    xdotool key Escape
    wait_until 10 chooser_gone || die "the application chooser stayed open"
}

# Idlewatch's own cheap applications for a long list: the tests' X client, or xterms.
testclient="$build/tests/platform/x11/x11_testclient"
start_client() {
    if [ -x "$testclient" ]; then
        "$testclient" --class "client$1,Client $1" >/dev/null &
    else
        xterm -class "Client $1" -geometry 20x2 -e sleep 600 &
    fi
    pids+=($!)
    many+=($!)
}

log "Starting the installed Idlewatch with a one-minute timeout"
start_idlewatch

log "Opening the popover"
wait_until 60 down_to_seconds || die "no application counted down to its last seconds"
open_popover || die "the popover did not open"
show_apps
shoot popover "$(union "$tray" "$popover")" 14

log "Opening the settings window, every pane and the application chooser"
open_settings
for pane in "${panes[@]}"; do
    select_pane "$pane" || die "the $pane pane was not selected"
    shoot "settings-$pane" "$(settings_frame)"
    echo "    $pane"
done
shoot_chooser chooser term
echo "    the application chooser"
close_settings

log "The popover with 40 more applications"
many=()
for i in $(seq -w 1 40); do start_client "$i"; done
wait_until 30 at_least_apps 43 || die "Idlewatch lists $(app_count) applications, not 43"
echo "    $(app_count) applications"
open_popover || die "the popover with 43 applications did not open"
shoot popover-many "$(union "$tray" "$popover")" 14
open_popover || die "the popover with 43 applications did not open again"
read -r x y w h <<<"$popover"
xdotool mousemove $((x + w / 2)) $((y + h / 3)) click --repeat 40 --delay 20 5
sleep 0.5
shoot popover-many-scrolled "$(union "$tray" "$popover")" 14
close_popover
for p in "${many[@]}"; do kill "$p" 2>/dev/null || true; done
wait_until 20 at_most_apps 3 || die "Idlewatch still lists $(app_count) applications"
activate "$front_window" || die "cannot bring the first xterm back to the front"

log "The tray icon's menu, and the popover paused from it"
open_tray_menu || die "the tray icon's menu did not open"
shoot tray-menu "$(union "$tray" "$menu")" 14
# "Pause automatic quitting" is the third item.
xdotool key Down Down Down Return
wait_until 5 menu_gone || die "the tray icon's menu stayed open"
wait_until 10 paused || die "choosing \"Pause automatic quitting\" did not pause"
open_popover || die "the paused popover did not open"
shoot popover-paused "$(union "$tray" "$popover")" 14
# Its first control is Resume; Return presses it.
xdotool key Tab Return
wait_until 10 resumed || die "Resume did not switch quitting back on"
close_popover
shoot tray-light "1180 0 100 30"
activate "$front_window" || die "cannot bring the first xterm back to the front"

log "Waiting for the one-minute timeout (real time)"
deadline=$((started + 150))
while alive "$back" || alive "$clock"; do
    [ "$SECONDS" -lt "$deadline" ] || break
    alive "$idlewatch_pid" || die "Idlewatch ended: $(tail -n 20 "$out/idlewatch.log")"
    sleep 0.5
done
closed_after=$((SECONDS - started))
failed=0
report() {
    if alive "$2"; then
        printf '    %-26s pid %-7s %s\n' "$1" "$2" "still running"
        [ "$3" = running ] || failed=1
    else
        printf '    %-26s pid %-7s %s\n' "$1" "$2" "closed, $closed_after s after Idlewatch started"
        [ "$3" = closed ] || failed=1
    fi
}
report "xterm in the background" "$back" closed
report "xclock in the background" "$clock" closed

log "The popover after the timeout"
# Only the xterm in front is left: one row, XTerm.
wait_until 20 only_one_xterm || die "more than the xterm in front is left: $(status)"
sleep 6 # the next sweep finds them ended and lists them under "Closed today"
open_popover || die "the popover did not open after the timeout"
show_apps
shoot popover-after-timeout "$(union "$tray" "$popover")" 14
close_popover
report "xterm in front" "$front" running

log "Quitting Idlewatch from its tray menu"
open_tray_menu || die "the tray icon's menu did not open"
# "Quit Idlewatch" is the menu's last item.
xdotool key Up Return
wait_until 10 ended "$idlewatch_pid" || die "Idlewatch did not quit from its menu"

log "Idlewatch again, under a dark KDE colour scheme"
# Qt's KDE platform theme reads the palette from kdeglobals.
cat >"$XDG_CONFIG_HOME/kdeglobals" <<'EOF'
[Colors:Window]
BackgroundNormal=32,35,38
ForegroundNormal=234,234,234
[Colors:View]
BackgroundNormal=20,22,24
ForegroundNormal=234,234,234
[Colors:Button]
BackgroundNormal=41,44,48
ForegroundNormal=234,234,234
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=255,255,255
EOF
# A dark panel to go with it.
kill "$panel"
wait_until 10 ended "$panel" || die "tint2 did not end"
start_panel '#2a2e32'
xclock -geometry 180x180+560+420 &
dark_clock=$!
pids+=("$dark_clock")
[ -n "$(window_of "$dark_clock")" ] || die "the second xclock has no window"
activate "$front_window" || die "cannot bring the first xterm back to the front"
start_idlewatch XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true
wait_until 20 at_least_apps 2 || die "Idlewatch lists $(app_count) applications, not 2"
open_popover || die "the dark popover did not open"
shoot popover-dark "$(union "$tray" "$popover")" 14
open_settings
for pane in general exclusions; do
    select_pane "$pane" || die "the $pane pane was not selected"
    shoot "settings-dark-$pane" "$(settings_frame)"
    echo "    $pane"
done
shoot_chooser chooser-dark ""
echo "    the application chooser"
close_settings
close_popover
shoot tray-dark "1180 0 100 30"
convert "$out/tray-light.png" "$out/tray-dark.png" +append "$out/tray-tint2-light-dark.png"
rm "$out/tray-light.png" "$out/tray-dark.png"

log "The tray icon on xfce4-panel, light and dark (StatusNotifierItem)"
kill "$idlewatch_pid" "$panel"
wait_until 10 ended "$idlewatch_pid" || die "Idlewatch did not end"
wait_until 10 ended "$panel" || die "tint2 did not end"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus" NO_AT_BRIDGE=1
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
pids+=($!)
wait_until 10 test -S "$XDG_RUNTIME_DIR/bus" || die "dbus-daemon did not start"
# The notification server, before anything sends a notice: D-Bus would otherwise start
# dunst by itself, without this configuration.
# Notices that stay until they are closed, so that each can be photographed.
cat >"$tmp/dunstrc" <<'EOF'
[global]
    width = 440
    origin = top-right
    offset = 12x44
    font = DejaVu Sans 10
    frame_width = 1
    frame_color = "#8a8a8a"
    padding = 10
    horizontal_padding = 12
    format = "<b>%s</b>\n%b"
[urgency_normal]
    background = "#f4f4f4"
    foreground = "#202020"
    timeout = 0
EOF
notifications_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
        grep -q 'boolean true'
}
dunst -config "$tmp/dunstrc" >"$tmp/dunst.log" 2>&1 &
pids+=($!)
wait_until 10 notifications_up || die "dunst did not start: $(cat "$tmp/dunst.log")"
panel_config="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$panel_config"
watcher_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null |
        grep -q 'boolean true'
}
# Idlewatch once more, its icon registered with the panel's StatusNotifier watcher.
item_registered() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems 2>/dev/null | grep -q 'string "'
}
start_idlewatch_on_bus() {
    env QT_QPA_PLATFORM=xcb "$idlewatch" >>"$out/idlewatch.log" 2>&1 &
    idlewatch_pid=$!
    pids+=("$idlewatch_pid")
    wait_until 20 item_registered || die "the tray icon never reached the panel: $(tail -n 5 "$out/idlewatch.log")"
}
# xfconfd, which the panel's D-Bus activation started: ended with the rest.
xfconfd_pid() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.xfce.Xfconf 2>/dev/null |
        awk '/uint32/ { print $2 }'
}
cp tests/support/xfce4-panel.xml "$panel_config/xfce4-panel.xml"
start_xfce_panel() {
    xfce4-panel --disable-wm-check >"$tmp/xfce4-panel.log" 2>&1 &
    panel=$!
    pids+=("$panel")
    wait_until 20 watcher_up || die "xfce4-panel did not start: $(cat "$tmp/xfce4-panel.log")"
}
start_xfce_panel
xfconfd=$(xfconfd_pid)
[ -z "$xfconfd" ] || pids+=("$xfconfd")
start_idlewatch_on_bus
sleep 2 # the panel draws the icon it was given
shoot tray-xfce-light "1180 0 100 30"
# Restarted dark: a running panel does not redraw the icons it holds. Idlewatch registers
# its icon with the new panel by itself.
kill "$panel"
wait_until 10 ended "$panel" || die "xfce4-panel did not end"
xfconf-query -c xfce4-panel -p /panels/dark-mode -s true || die "cannot switch xfce4-panel to dark"
start_xfce_panel
wait_until 20 item_registered || die "the tray icon did not come back to the panel"
sleep 2
shoot tray-xfce-dark "1180 0 100 30"
convert "$out/tray-xfce-light.png" "$out/tray-xfce-dark.png" +append "$out/tray-xfce-light-dark.png"
rm "$out/tray-xfce-light.png" "$out/tray-xfce-dark.png"

log "Notifications before and after closing (dunst)"
kill "$idlewatch_pid"
wait_until 10 ended "$idlewatch_pid" || die "Idlewatch did not end"
kill "$dark_clock" 2>/dev/null || true
dunstctl close-all
dunst_window() { xdotool search --onlyvisible --class Dunst 2>/dev/null | head -n1; }
dunst_shown() { [ -n "$(dunst_window)" ]; }
# A background xterm and xclock, started together: due in the same minute, told together.
xterm -geometry 72x8+40+420 -T "xterm in the background" \
    -e sh -c 'echo "Nobody uses this xterm either."; exec sh' &
noticed_term=$!
pids+=("$noticed_term")
xclock -geometry 180x180+560+420 &
noticed_clock=$!
pids+=("$noticed_clock")
[ -n "$(window_of "$noticed_term")" ] && [ -n "$(window_of "$noticed_clock")" ] ||
    die "the xterm and xclock to close have no windows"
activate "$front_window" || die "cannot bring the first xterm back to the front"
start_idlewatch_on_bus
wait_until 30 dunst_shown || die "no notice before closing: $(tail -n 5 "$out/idlewatch.log")"
sleep 0.5
shoot notice-before-closing "$(geometry_of "$(dunst_window)")" 6
wait_until 150 ended "$noticed_clock" || die "xclock was not closed"
sleep 8 # the next sweep finds them ended and says so
shoot notice-after-closing "$(geometry_of "$(dunst_window)")" 6

log "Screenshots in $out"
(cd "$out" && printf '    %s\n' ./*.png full/*.png)
[ "$failed" = 0 ] || die "Idlewatch did not close the background applications and keep the one in front"
