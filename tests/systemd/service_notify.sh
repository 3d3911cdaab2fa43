#!/usr/bin/env bash
# velmor_sndd as systemd's notify service sees it, with a stand-in for systemd's notification
# socket: ready once it listens, whatever the lock system does; a status line that names the
# lock system, the link's state and the requests' counts, updated as they change; watchdog
# pings while it runs; and the stop. The real programs on their fixed ports inside a private
# network namespace.
# Usage: service_notify.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
# shellcheck source=../support/netns.sh
. "$(dirname "$0")/../support/netns.sh" "$@"
# shellcheck source=../support/scratch.sh
. "$(dirname "$0")/../support/scratch.sh"
fail() {
    echo "FAIL: $*" >&2
    sed 's/^/notified: /' "$work/notify.log" >&2 || true
    sed 's/^/gateway stderr: /' "$work/gateway.err" >&2 || true
    exit 1
}
# Polls a file for a line matching the pattern, for at most 20 s; a file has no event to wait on.
wait_for_line() { # file, pattern
    local _
    for _ in $(seq 400); do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# systemd's side: a datagram socket whose messages are written down one field a line.
python3 - "$work/notify" "$work/notify.log" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "a", buffering=1) as out:
    while True:
        for field in s.recv(65536).decode().split("\n"):
            if field:
                out.write(field + "\n")
PY
for _ in $(seq 200); do [ -S "$work/notify" ] && break; sleep 0.05; done
[ -S "$work/notify" ] || fail "no notification socket"

# A lock system that never accepts: the program is ready all the same, and says it is down.
"$bin/tools/locksim" --unresponsive >"$work/locksim.out" &
locksim=$!
wait_for_line "$work/locksim.out" listening || fail "the lock-system stand-in did not start"
NOTIFY_SOCKET=$work/notify WATCHDOG_USEC=2000000 \
    "$bin/velmor_sndd" --reconnect 1 --connect-timeout 1 >/dev/null 2>"$work/gateway.err" &
gateway=$!
wait_for_line "$work/notify.log" '^READY=1$' || fail "not ready while the lock system hangs"
grep -q '^velmor_sndd: connected' "$work/gateway.err" && fail "connected to a lock system that never accepts"
wait_for_line "$work/notify.log" \
    '^STATUS=lock system 127.0.0.1:8264: not connected; requests: 0 keys made, 0 not made, 0 failed$' ||
    fail "no status line for the link that is down"
"$bin/tools/keyreq" --room 1110 >/dev/null 2>&1 && fail "a request was answered without a link"
wait_for_line "$work/notify.log" 'requests: 0 keys made, 0 not made, 1 failed$' ||
    fail "the failed request is not counted"

# The lock system comes: connected, and each answer counted as it was given.
kill "$locksim"
wait "$locksim" 2>/dev/null || true
"$bin/tools/locksim" --code-by-room >/dev/null &
wait_for_line "$work/gateway.err" '^velmor_sndd: connected to the lock system at 127.0.0.1:8264' ||
    fail "the link did not come up"
"$bin/tools/keyreq" --room 1001 >/dev/null || fail "room 1001 not answered with keys made"
status=0
"$bin/tools/keyreq" --room 1003 >/dev/null || status=$?
[ "$status" -eq 1 ] || fail "room 1003: keyreq exit status $status, expected the failure answer"
wait_for_line "$work/notify.log" \
    '^STATUS=lock system 127.0.0.1:8264: connected; requests: 1 keys made, 1 not made, 1 failed$' ||
    fail "no status line with the answers"

# Alive: pinged at least every second (half of WATCHDOG_USEC).
pings=$(grep -c '^WATCHDOG=1$' "$work/notify.log" || true)
wait_for_line "$work/notify.log" '^WATCHDOG=1$' || fail "no watchdog ping"
for _ in $(seq 100); do
    [ "$(grep -c '^WATCHDOG=1$' "$work/notify.log")" -gt "$((pings + 1))" ] && break
    sleep 0.05
done
[ "$(grep -c '^WATCHDOG=1$' "$work/notify.log")" -gt "$((pings + 1))" ] || fail "the watchdog pings stopped"

kill -TERM "$gateway"
code=0
wait "$gateway" || code=$?
[ "$code" -eq 0 ] || fail "exit status $code after SIGTERM"
grep -q '^STOPPING=1$' "$work/notify.log" || fail "no STOPPING=1"
echo "service notifications: ready, status, watchdog and stop as systemd sees them"
