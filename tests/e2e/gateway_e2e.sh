#!/usr/bin/env bash
# The real velmor_sndd, locksim and keyreq on their fixed ports (3000, 8264), inside a private
# network namespace so they never meet anything else on the machine.
# Usage: gateway_e2e.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    if ! unshare -n true 2>/dev/null; then
        echo "SKIP: cannot make a private network namespace here (needs root)"
        exit 77
    fi
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d)
cleanup() {
    local pids
    pids=$(jobs -p)
    [ -n "$pids" ] && kill $pids 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/gateway.err" ] && sed 's/^/gateway stderr: /' "$work/gateway.err" >&2
    exit 1
}
expect_line() { # fd, expected text, what
    local line
    IFS= read -r -t 10 -u "$1" line || fail "no line for $3"
    [ "$line" == "$2" ] || fail "$3: got [$line], expected [$2]"
}

STX=$'\x02' ETX=$'\x03' EOT=$'\x04'
mkfifo "$work/locksim.out" "$work/gateway.out"

"$bin/tools/locksim" --code 001 >"$work/locksim.out" &
exec 3<"$work/locksim.out"
expect_line 3 "locksim: listening on 127.0.0.1:8264" "lock-system stand-in start"

"$bin/velmor_sndd" >"$work/gateway.out" 2>"$work/gateway.err" &
gateway=$!
exec 4<"$work/gateway.out"
# The listener is up before the link connects, so a connected link means the gateway serves.
expect_line 3 "locksim: connection 1 opened" "link connect"

request='<?xml version="1.0"?><keyrequest room="1110" folio="123456" encoder="1" key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00" to-date-time="2020-07-16 14:00:00"/>'
answer=$("$bin/tools/keyreq" --room 1110 --folio 123456) || fail "keyreq exit status $?"
[ "$answer" == '<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>' ] ||
    fail "answer: $answer"

expect_line 3 "conn 1 line 1: <STX>2000000010019999   1110           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "encoder command line"
expect_line 4 "$request" "log line 1 (request)"
expect_line 4 "${STX}200000001RS001${ETX}${EOT}" "log line 2 (reply)"
expect_line 4 "001" "log line 3 (result code)"
expect_line 4 "Room = [1110           ] From = [0716201400] To = [0716201400]" "log line 4 (summary)"

# A room that cannot be read: nothing goes to the lock system, the connection closes unanswered.
status=0
"$bin/tools/keyreq" --room 101A >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "unreadable room: keyreq exit status $status, expected 2"
expect_line 4 "${request/1110/101A}" "log line of the failed request"

# A second gateway cannot bind port 3000.
status=0
"$bin/velmor_sndd" >/dev/null 2>"$work/second.err" </dev/null || status=$?
[ "$status" -eq 1 ] || fail "second gateway: exit status $status, expected 1"
grep -q "EIdCouldNotBindSocket: Could not bind socket. Address and port are already in use." \
    "$work/second.err" || fail "second gateway: $(cat "$work/second.err")"

kill -INT "$gateway"
status=0
wait "$gateway" || status=$?
[ "$status" -eq 0 ] || fail "gateway exit status after SIGINT: $status"
echo "PASS"
