#!/usr/bin/env bash
# The operator program configured once, on Qt's offscreen platform inside a private network
# namespace (ports 3000 and 8264, and 127.0.0.2, as an installation has them): --help and
# --version answer without any display; a bad setting names its file and line and starts
# nothing; the settings file points the window at a lock system on 127.0.0.2, and set to
# reconnect, the window connects once that lock system is there; the log file the settings name
# gets every log line, stamped and readable, and after a move SIGHUP has the window reopen it;
# health and metrics are answered over HTTP.
# Usage: window_e2e.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
# shellcheck source=../support/netns.sh
. "$(dirname "$0")/../support/netns.sh" "$@"

# shellcheck source=../support/scratch.sh
. "$(dirname "$0")/../support/scratch.sh"
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/window.err" ] && sed 's/^/window stderr: /' "$work/window.err" >&2
    exit 1
}
success='<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>'
# keyreq until it is answered, or until the window listens when that is all it asks (for at most
# 10 s: the window listens once it is built); sets answer and status.
ask_until() { # answered | listening
    local _
    for _ in $(seq 100); do
        status=0
        answer=$("$bin/tools/keyreq" --room 1110 --timeout 2000 2>/dev/null) || status=$?
        [ "$status" -eq 0 ] && return 0
        [ "$1" == listening ] && [ "$status" -ne 3 ] && return 0
        sleep 0.1
    done
    return 1
}

# --- Without any display: what the program says, and a bad setting.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
version=$("${no_display[@]}" "$bin/velmor_snd" --version) || fail "--version: exit status $?"
[[ "$version" =~ ^velmor_snd\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: $version"
"${no_display[@]}" "$bin/velmor_snd" --help >"$work/help.out" || fail "--help: exit status $?"
grep -q "^  --link-host HOST" "$work/help.out" || fail "--help: $(head -3 "$work/help.out")"
if grep -q -- "--raw-log\|--service\|--check" "$work/help.out"; then
    fail "--help offers velmor_sndd's own options"
fi
grep -q "^  --log-file PATH" "$work/help.out" && grep -q "^  --log-lines N" "$work/help.out" ||
    fail "--help does not offer the window's log file and pane"
printf '# the lock system\nlink-host = 127.0.0.2\nlink-port = 0\n' >"$work/bad.conf"
status=0
"${no_display[@]}" "$bin/velmor_snd" --config "$work/bad.conf" 2>"$work/window.err" || status=$?
[ "$status" -eq 2 ] || fail "a bad setting: exit status $status, expected 2"
grep -qF "velmor_snd: $work/bad.conf:3: --link-port: '0' is not a whole number from 1 to 65535" \
    "$work/window.err" || fail "a bad setting: $(cat "$work/window.err")"

# --- The lock system the settings name, on 127.0.0.2; set to reconnect, the window connects once
# it is there, with no box in between.
export QT_QPA_PLATFORM=offscreen
cat >"$work/velmor_snd.conf" <<CONF
link-host = 127.0.0.2
reconnect = 1
allow = 127.0.0.1
log-file = $work/velmor_snd.log
log-lines = 50
metrics-listen = 127.0.0.1:9464
# velmor_sndd's own: passed over by the window
raw-log = yes
CONF
"$bin/velmor_snd" --config "$work/velmor_snd.conf" >/dev/null 2>"$work/window.err" &
window=$!
ask_until listening || fail "the window does not listen"
[ "$status" -eq 2 ] || fail "before there is a lock system: status $status, answer [$answer]"
# The window answers monitoring as velmor_sndd does: no keys can be made yet, and it says why.
# (Its endpoint starts a moment after the listener, in the same start-up: a refused connect is
# tried again, for at most 5 s. curl's own --retry would also repeat the 503 looked for here.)
for _ in $(seq 50); do
    health=$(curl -s -m 5 -w ' %{http_code}' http://127.0.0.1:9464/health) && break
    sleep 0.1
done
[[ "$health" == "down: lock system 127.0.0.2:8264: not connected"*"; connecting again every 1 s"*" 503" ]] ||
    fail "/health before there is a lock system: $health"
mkfifo "$work/locksim.out"
"$bin/tools/locksim" --host 127.0.0.2 >"$work/locksim.out" &
exec 3<"$work/locksim.out"
IFS= read -r -t 30 -u 3 line || fail "no stand-in"
[ "$line" == "locksim: listening on 127.0.0.2:8264" ] || fail "stand-in: $line"
ask_until answered || fail "not answered once the lock system is there"
[ "$answer" == "$success" ] || fail "answer: $answer"
IFS= read -r -t 30 -u 3 line && [ "$line" == "locksim: connection 1 opened" ] || fail "stand-in: $line"
IFS= read -r -t 30 -u 3 line && [[ "$line" == "conn 1 line 1: "* ]] || fail "stand-in: $line"
health=$(curl -s -m 5 -w ' %{http_code}' http://127.0.0.1:9464/health) || fail "no /health: $?"
[[ "$health" == "ok: lock system 127.0.0.2:8264: connected since "*" 200" ]] || fail "/health: $health"
metrics=$(curl -s -m 5 http://127.0.0.1:9464/metrics) || fail "no /metrics: $?"
grep -qx 'velmor_snd_key_requests_total{answer="made",reason=""} 1' <<<"$metrics" &&
    grep -q '^velmor_snd_build_info{program="velmor_snd",' <<<"$metrics" || fail "/metrics: $metrics"

# --- The log file: every log line, stamped with the local time, control characters named.
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}'
# Until the file holds a line matching the pattern, for at most 10 s.
wait_for_line() { # FILE PATTERN
    local _
    for _ in $(seq 100); do
        grep -Eq "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
wait_for_line "$work/velmor_snd.log" "^$stamp Room = \[1110 *\] " || fail "no summary line in the log file"
grep -Eq "^$stamp <STX>200000001RS001<ETX><EOT>$" "$work/velmor_snd.log" ||
    fail "no readable reply line in the log file: $(cat "$work/velmor_snd.log")"
[ "$(stat -c %a "$work/velmor_snd.log")" == 640 ] || fail "log file mode $(stat -c %a "$work/velmor_snd.log")"

# --- Rotated: moved away, then SIGHUP; the window goes on, and writes to a new file.
mv "$work/velmor_snd.log" "$work/velmor_snd.log.1"
kill -HUP "$window"
wait_for_line "$work/velmor_snd.log" "^$stamp reopened the log file $work/velmor_snd.log$" ||
    fail "no reopen line after SIGHUP"
ask_until answered || fail "not answered after SIGHUP"
wait_for_line "$work/velmor_snd.log" "^$stamp Room = \[1110 *\] " || fail "no summary line after the reopen"
[ "$(grep -c " Room = " "$work/velmor_snd.log.1")" -eq 1 ] || fail "the moved file was written on"
kill -TERM "$window"
status=0
wait "$window" || status=$?
[ "$status" -eq 0 ] || fail "exit status after SIGTERM: $status"
echo "PASS"
