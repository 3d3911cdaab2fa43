#!/usr/bin/env bash
# The operator program on a real X server, with a window manager (openbox) and a notification
# area (trayer), against locksim on the fixed ports inside a private network namespace:
# the icon arrives with the notification area, a key request and a test send are logged,
# minimise hides, a double-click on the icon brings the window back minimised, closing exits
# 0, SIGTERM exits 0, a second instance on the taken port reports and exits 1, and a stop
# while a start-up box is open closes it and exits 0.
#
# Usage: display_test.sh VELMOR_SND LOCKSIM KEYREQ SCREENSHOT.png [--wine]
#   --wine: VELMOR_SND is the Windows program, run under Wine (the stand-ins stay Linux ones).
#   Wine has no SIGTERM or SIGINT for a windowed Windows program: there the stops are closing
#   the window and the operator's OK.
# Exit 77 (skipped) only when no network namespace can be made or no X server started.
set -euo pipefail

if [ $# -lt 4 ] || [ $# -gt 5 ] || { [ $# -eq 5 ] && [ "$5" != --wine ]; }; then
    echo "usage: $0 VELMOR_SND LOCKSIM KEYREQ SCREENSHOT.png [--wine]" >&2
    exit 2
fi
wine_mode=false
[ $# -eq 5 ] && wine_mode=true

skip() {
    echo "SKIP: $*" >&2
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    [ -n "${work:-}" ] && for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -20 "$log" >&2; }
    done
    exit 1
}

# Re-run inside a private network namespace, so ports 3000 and 8264 clash with nothing; a
# caller that runs its tests in one already (VELMOR_IN_NETNS) keeps its own, and its Wine server.
own_namespace=true
[ -n "${VELMOR_IN_NETNS:-}" ] && { own_namespace=false; VELMOR_DISPLAY_TEST_INSIDE=1; }
if [ -z "${VELMOR_DISPLAY_TEST_INSIDE:-}" ]; then
    command -v unshare >/dev/null || skip "unshare is not installed"
    # Wine's server makes the sockets: it must start inside the namespace, so none may run.
    if [ $# -eq 5 ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    if unshare -n true 2>/dev/null; then
        VELMOR_DISPLAY_TEST_INSIDE=1 exec unshare -n "$0" "$@"
    elif unshare -rn true 2>/dev/null; then
        VELMOR_DISPLAY_TEST_INSIDE=1 exec unshare -rn "$0" "$@"
    fi
    skip "no private network namespace can be made here"
fi

here=$(dirname "$(realpath "$0")")
velmor_snd=$(realpath "$1")
locksim=$(realpath "$2")
keyreq=$(realpath "$3")
screenshot=$(realpath -m "$4")

$own_namespace && { ip link set lo up || skip "cannot bring up the loopback interface in the namespace"; }
command -v Xvfb >/dev/null || skip "Xvfb is not installed (package xvfb)"
for tool in openbox trayer xdotool wmctrl xprop xwininfo import; do
    command -v "$tool" >/dev/null || fail "$tool is missing; ./test installs scripts/packages"
done

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Polls a condition for at most $1 seconds; the shell has no event to wait on.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

# A child that has ended stays a zombie until it is waited for.
process_ended() { [ ! -e "/proc/$1" ] || [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" = Z ]; }
# Waits at most $2 seconds for the background process $1 to end; sets exit_code.
wait_for_exit() {
    wait_until "$2" process_ended "$1" || fail "process $1 did not end within $2 s"
    exit_code=0
    wait "$1" || exit_code=$?
}

# --- X server, window manager -------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_until 15 test -s "$work/display" || skip "no X server could be started (Xvfb)"
DISPLAY=":$(head -1 "$work/display")"
export DISPLAY
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# For a sanitizer build: system libraries that the xcb platform loads leak on their own.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"

if $wine_mode; then
    export WINEDEBUG=-all
    # One trivial process first: two starting a fresh Wine server at once can hang.
    # A server that this starts keeps running until the end; its desktop process takes this X
    # server (a caller's server, already running, has its own).
    $own_namespace && wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    program=(wine "$velmor_snd")
    # Wine docks a program's notification icon as a window of its shell (explorer.exe).
    icon_class=explorer.exe
else
    program=("$velmor_snd")
    icon_class=velmor_snd
fi
stop_wine() { $wine_mode && wineserver -k 2>/dev/null; return 0; }
trap 'stop_wine; cleanup' EXIT

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 15 wmctrl -m >/dev/null 2>&1 || fail "the window manager did not start"

"$locksim" >"$work/locksim.log" 2>&1 &
locksim_pid=$!
pids+=("$locksim_pid")
wait_until 10 grep -q listening "$work/locksim.log" || fail "locksim did not start"

# --- window state probes ------------------------------------------------------------------
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
map_state() { xwininfo -id "$1" | sed -n 's/.*Map State: //p'; }
in_client_list() { xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$1")"; }
is_shown() { [ "$(wm_state "$1")" = Normal ] && [ "$(map_state "$1")" = IsViewable ] && in_client_list "$1"; }
# Iconic and listed: what a taskbar shows as a minimised button.
is_minimised() { [ "$(wm_state "$1")" = Iconic ] && in_client_list "$1"; }
# Withdrawn: unmapped and unlisted, so no taskbar button.
is_hidden() { [ -z "$(wm_state "$1")" ] || [ "$(wm_state "$1")" = Withdrawn ]; }
is_hidden_now() { is_hidden "$1" && [ "$(map_state "$1")" = IsUnMapped ] && ! in_client_list "$1"; }
main_window() { xdotool search --name '^Form7$' 2>/dev/null | head -1; }
has_main_window() { [ -n "$(main_window)" ]; }
error_box() { xdotool search --name '^Application Error$' 2>/dev/null | head -1; }
has_error_box() { [ -n "$(error_box)" ]; }
# The program's notification icon: a viewable window of its class (under Wine, of Wine's shell)
# that the window manager does not manage, since the notification area has embedded it. (Wine
# without a notification area shows its own, managed, window of icons.)
tray_icon() {
    local window
    for window in $(xdotool search --class "$icon_class" 2>/dev/null); do
        [ "$window" != "${form:-}" ] && [ "$(map_state "$window")" = IsViewable ] &&
            [ -z "$(wm_state "$window")" ] && echo "$window"
    done | head -1
}
has_tray_icon() { [ -n "$(tray_icon)" ]; }
# Clicks relative to a window; xdotool's own geometry report is off by the frame for windows
# that the window manager has reparented.
click_in() {
    local window=$1 x=$2 y=$3 count=$4
    xdotool mousemove --window "$window" "$x" "$y" click --repeat "$count" --delay 60 1
}
double_click_icon() {
    local icon width height
    icon=$(tray_icon)
    width=$(xwininfo -id "$icon" | sed -n 's/.*Width: //p')
    height=$(xwininfo -id "$icon" | sed -n 's/.*Height: //p')
    click_in "$icon" $((width / 2)) $((height / 2)) 2
}
locksim_lines() { grep -c ' line ' "$work/locksim.log" || true; }
key_request() { "$keyreq" --room 1110 --to "2020-07-17 11:00:00" --timeout 20000 >>"$work/keyreq.log"; }

# --- start-up without a notification area, then the icon arrives ----------------------------
"${program[@]}" >"$work/velmor_snd.log" 2>&1 &
snd=$!
pids+=("$snd")
# The first program of a fresh Wine server on a new display can take long to show a window (once
# it did not within 20 s, with its link not yet connected): a bound, not a wait.
wait_until 60 has_main_window || fail "the window did not appear"
form=$(main_window)
wait_until 10 is_shown "$form" || fail "the window did not start shown"
has_tray_icon && fail "an icon without a notification area"

trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true \
    --transparent false --tint 0xd4d0c8 --expand false >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_until 15 has_tray_icon || fail "the icon was not added when the notification area appeared"

# --- screenshot, once two captures in a row agree (the window has finished drawing) ---------
take_screenshot() {
    mkdir -p "$(dirname "$screenshot")"
    stable_capture() {
        import -silent -frame -window "$form" "$work/capture.png" 2>/dev/null || return 1
        if [ -f "$work/previous.png" ] && cmp -s "$work/capture.png" "$work/previous.png"; then
            return 0
        fi
        mv "$work/capture.png" "$work/previous.png"
        return 1
    }
    wait_until 10 stable_capture || fail "the window did not settle for a screenshot"
    cp "$work/capture.png" "$screenshot"
}

# --- a key request and a test send --------------------------------------------------------
key_request || fail "the key request did not get the success answer"
# The middle of the Send button: 16,56 in the right panel, which starts at 552.
click_in "$form" $((552 + 16 + 37)) $((56 + 12)) 1
sent_twice() { [ "$(locksim_lines)" -ge 2 ]; }
wait_until 10 sent_twice || fail "Send did not reach the lock system"

# Under Wine a window brought back from outside is not painted again: the picture comes now.
! $wine_mode || take_screenshot

# --- minimise hides; requests go on; a double-click on the icon brings it back minimised -----
xdotool windowminimize "$form"
wait_until 10 is_hidden_now "$form" || fail "minimise did not hide the window"
has_tray_icon || fail "the icon went with the window"
key_request || fail "no answer while the window was hidden"

if $wine_mode; then
    # Under Wine no click reaches a docked icon (measured: Wine's shell gets no mouse message for
    # it), so the window comes back through the window manager here; the double-click is for a
    # real Windows machine to confirm.
    xdotool windowmap "$form"
    xdotool windowactivate "$form"
    wait_until 10 is_shown "$form" || fail "the hidden window could not be brought back"
else
    double_click_icon
    wait_until 10 is_minimised "$form" || fail "a double-click did not bring the window back minimised"
    xdotool windowactivate "$form"
    wait_until 10 is_shown "$form" || fail "the window could not be restored"

    xdotool windowminimize "$form"
    wait_until 10 is_hidden_now "$form" || fail "the second minimise did not hide the window"
    double_click_icon
    wait_until 10 is_minimised "$form" || fail "the second double-click did not bring it back"
    xdotool windowactivate "$form"
    wait_until 10 is_shown "$form" || fail "the window could not be restored again"
fi

$wine_mode || take_screenshot

# --- close: icon gone, exit code 0 --------------------------------------------------------
wmctrl -i -c "$form"
wait_for_exit "$snd" 30
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after closing the window"
has_tray_icon && fail "the icon stayed after the program ended"

# --- a second instance finds the port taken ---------------------------------------------------
"${program[@]}" >"$work/velmor_snd-2.log" 2>&1 &
first=$!
pids+=("$first")
form=""
wait_until 20 has_main_window || fail "the window did not appear again"

"${program[@]}" >"$work/velmor_snd-3.log" 2>&1 &
second=$!
pids+=("$second")
wait_until 20 has_error_box || fail "no Application Error box for the taken port"
box=$(error_box)
[ "$(xdotool search --name '^Form7$' | wc -l)" -eq 1 ] || fail "the second instance showed a window"
xdotool windowactivate --sync "$box" key Return
wait_for_exit "$second" 20
[ "$exit_code" -eq 1 ] || fail "exit code $exit_code for the taken port"

# A stop while a start-up box waits for the operator: the box goes, the exit code is 0.
# stop_during_box SIGNAL HAS_BOX WHAT
stop_during_box() {
    "${program[@]}" >>"$work/velmor_snd-stopped.log" 2>&1 &
    local instance=$!
    pids+=("$instance")
    wait_until 20 "$2" || fail "no $3"
    kill "-$1" "$instance"
    wait_for_exit "$instance" 20
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code after SIG$1 during the $3"
    "$2" && fail "the $3 stayed after SIG$1"
    return 0
}
# Closes the main window of the instance and checks that it ends with 0.
close_and_expect_zero() {
    local window
    window=$(main_window)
    wmctrl -i -c "$window"
    wait_for_exit "$1" 30
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code after closing the window"
}
connect_box() { xdotool search --name '^Velmor_snd$' 2>/dev/null | head -1; }
has_connect_box() { [ -n "$(connect_box)" ]; }

is_maximised() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_HORZ; }
if $wine_mode; then
    close_and_expect_zero "$first"
    # --- the starter's show state: start /max gives a maximised window -----------------------
    wine start /wait /max "$(winepath -w "$velmor_snd")" >"$work/velmor_snd-max.log" 2>&1 &
    maximised=$!
    pids+=("$maximised")
    wait_until 20 has_main_window || fail "no window from start /max"
    wait_until 10 is_maximised "$(main_window)" || fail "start /max did not maximise the window"
    close_and_expect_zero "$maximised"
    # --- no lock system: the refused connect's box, then the window serves on ---------------
    kill "$locksim_pid"
    wait "$locksim_pid" 2>/dev/null || true
    "${program[@]}" >"$work/velmor_snd-4.log" 2>&1 &
    fourth=$!
    pids+=("$fourth")
    wait_until 20 has_connect_box || fail "no box for the refused link connect"
    xdotool windowactivate --sync "$(connect_box)" key Return
    wait_until 20 has_main_window || fail "the window did not come after the connect box"
    close_and_expect_zero "$fourth"
else
    stop_during_box TERM has_error_box "Application Error box"
    kill -TERM "$first"
    wait_for_exit "$first" 30
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code after SIGTERM"
    # --- no lock system: the box of the refused link connect, ended by SIGINT ---------------
    kill "$locksim_pid"
    wait "$locksim_pid" 2>/dev/null || true
    stop_during_box INT has_connect_box "box of the refused connect"
    has_main_window && fail "the window was shown after the stop during the connect box"
fi

echo "display test passed; screenshot in $screenshot"
