#!/usr/bin/env bash
# velmor_sndd.exe as a Windows service under Wine: registered with its options and its event
# source, started and stopped by the service manager (sc), serving a key request in between, its
# states and its log as an administrator sees them, a log left from an earlier month moved
# aside, its own lines reported to the event log at their levels (request lines not), a bad
# setting reported there as an error; then removed with its event source.
# Usage: windows_service.sh HOST_BUILD_DIR VELMOR_SNDD_EXE
#   Runs inside the Windows stage's private network namespace (VELMOR_IN_NETNS), in a Wine prefix
#   of its own; the stand-ins are the host's Linux programs.
set -euo pipefail
bin=$(cd "$1" && pwd)
exe=$(realpath "$2")
if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    echo "SKIP: runs in the Windows stage's network namespace"
    exit 77
fi
work=$(mktemp -d)
# A prefix of its own, whose session this test starts: Wine's event log keeps nothing, and what
# a service reports shows only in Wine's debug output (its ReportEventW prints the event's type
# and ID on the advapi channel, its text on the eventlog channel: information as a trace, a
# warning as a warning, an error as an error). A service writes that output where the service
# manager's does, and takes the manager's environment: both come from the session's first
# program. So that program has the channels on and its standard error in a file; every program
# the test runs itself has them off.
export WINEPREFIX=$work/wine WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wine "$exe" --uninstall-service >/dev/null 2>&1 || true
    [ -z "${locksim:-}" ] || kill "$locksim" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/service.log" ] && sed 's/^/service log: /' "$work/service.log" >&2
    [ -f "$work/session.log" ] && grep -a 'ReportEventW' "$work/session.log" | sed 's/^/wine: /' >&2
    exit 1
}
export WINEDEBUG=-all
# The prefix made in a session of its own: making it starts the service manager anew on the way.
wineboot -i >/dev/null 2>&1 </dev/null
timeout 120 wineserver -w || fail "Wine processes did not end after the prefix was made"
# The test's session, held until the end: Wine ends the services with it.
wineserver -p
WINEDEBUG=-all,+eventlog,fixme+advapi wine cmd /c exit >/dev/null 2>"$work/session.log" </dev/null
# The events reported so far, one a line: "TYPE ID CHANNEL TEXT" (TYPE 0x0004 information,
# 0x0002 warning, 0x0001 error; ID in hex; TEXT as Wine writes it, a backslash doubled). Each
# call's two lines come from one thread, whose number starts them.
events() {
    tr -d '\r' <"$work/session.log" | awk '
        match($0, /^[0-9a-f]+:fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x[0-9a-f]+,0x[0-9a-f]+,0x[0-9a-f]+,/) {
            split(substr($0, RSTART, RLENGTH), head, /[:(,]/)
            call[head[1]] = head[6] " " head[8]
            next
        }
        match($0, /^[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW L"/) {
            split($0, head, ":")
            text = substr($0, RLENGTH + 1)
            sub(/"$/, "", text)
            print call[head[1]], head[2], text
        }'
}
# Waits, at most 30 s, for an event matching PATTERN (extended, against "TYPE ID CHANNEL TEXT").
wait_for_event() { # pattern what
    local _
    for _ in $(seq 150); do
        events | grep -Eq "$1" && return 0
        sleep 0.2
    done
    fail "$2: no event matching [$1]; reported: $(events)"
}
# The service manager has no state change to wait on from outside: its state is asked for,
# for at most 30 s.
wait_for_state() { # STATE
    local _
    for _ in $(seq 150); do
        wine sc query velmor_sndd 2>/dev/null | tr -d '\r' | grep -q "STATE *: [0-9]* *$1" && return 0
        sleep 0.2
    done
    fail "the service did not reach $1: $(wine sc query velmor_sndd 2>&1 | tr -d '\r' | grep STATE)"
}

# Each line of the log file starts with the local time.
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}'

# The message table Event Viewer takes the events' text from, in the program's file: a message
# for each ID, the event's own text.
messages=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>&1) || fail "no resources in $exe: $messages"
for id in 1 2 3 4 5 6; do
    grep -A1 "MessageId = 0x$id\$" <<<"$messages" | grep -qF '%1' ||
        fail "no message %1 for event $id in the program's message table: $messages"
done

"$bin/tools/locksim" --port 8364 >"$work/locksim.out" &
locksim=$!
for _ in $(seq 100); do
    grep -q listening "$work/locksim.out" && break
    sleep 0.1
done

# A log left from two months before: Windows has no logrotate, so the service's first line moves
# it aside under the month of its last write; month files older than --keep-months are removed
# then, and files of other names stay.
printf 'left from before\n' >"$work/service.log"
touch -d "$(date +%Y-%m-15) 12:00 2 months ago" "$work/service.log"
old_month=$(date -r "$work/service.log" +%Y-%m)
expired_month=$(date -d "$(date +%Y-%m-15) 12:00 3 months ago" +%Y-%m)
printf 'long gone\n' >"$work/service-$expired_month.log"
printf 'not the service log\n' >"$work/other-$expired_month.log"

log=$(winepath -w "$work/service.log")
out=$(wine "$exe" --install-service --port 3100 --link-port 8364 --log-file "$log" --keep-months 2 \
    --metrics-listen 127.0.0.1:9564 | tr -d '\r')
[ "$out" == "velmor_sndd: registered the service velmor_sndd, started with Windows from now on; start it now with: sc start velmor_sndd" ] ||
    fail "install said: $out"
# Wine's sc has no qc: the registration as the service manager keeps it.
config=$(wine reg query 'HKLM\System\CurrentControlSet\Services\velmor_sndd' | tr -d '\r')
grep -q "Start *REG_DWORD *0x2$" <<<"$config" || fail "not started with Windows: $config"
grep -qF -- "velmor_sndd.exe --service --port 3100 --link-port 8364 --log-file $log" <<<"$config" ||
    fail "the registered command line: $config"
out=$(wine "$exe" --install-service --port 3100 2>&1 | tr -d '\r') && fail "registered twice: $out"
grep -q "^velmor_sndd: cannot register the service velmor_sndd: Windows error 1073" <<<"$out" ||
    fail "a second registration said: $out"
# The event source, with the program's file for the messages and its three levels.
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\velmor_sndd'
source=$(wine reg query "$source_key" /reg:64 | tr -d '\r') || fail "no event source velmor_sndd"
grep -qF "EventMessageFile    REG_EXPAND_SZ    $(winepath -w "$exe")" <<<"$source" ||
    fail "the event source's message file: $source"
grep -q "TypesSupported *REG_DWORD *0x7$" <<<"$source" || fail "the event source's types: $source"
wait_for_state STOPPED

# A bad setting keeps the service from starting: there is no console to say it on, so it is an
# error in the event log.
settings=$WINEPREFIX/drive_c/ProgramData/velmor_snd/velmor_snd.conf
mkdir -p "$(dirname "$settings")"
printf 'max-connections = lots\r\n' >"$settings"
wine sc start velmor_sndd >/dev/null 2>&1 || true
wait_for_event "^0x0001 0x00000005 err the service cannot start: .*velmor_snd\.conf:1: --max-connections: " \
    "a bad setting"
wait_for_state STOPPED
rm "$settings"

# Wine's sc start may say it failed while the service is still starting: its state tells.
wine sc start velmor_sndd >/dev/null || true
# Running once it listens; the link comes in the background.
wait_for_state RUNNING
for _ in $(seq 100); do
    grep -Eq "^$stamp velmor_sndd: connected to the lock system at 127.0.0.1:8364$" "$work/service.log" && break
    sleep 0.1
done
grep -Eq "^$stamp velmor_sndd: connected to the lock system at 127.0.0.1:8364$" "$work/service.log" ||
    fail "the link did not come up"
[ "$(cat "$work/service-$old_month.log")" == "left from before" ] ||
    fail "the old log was not moved aside to service-$old_month.log: $(ls "$work")"
grep -q "left from before" "$work/service.log" && fail "the old lines are still in the new log"
[ -e "$work/service-$expired_month.log" ] && fail "service-$expired_month.log is past keeping but there"
[ "$(cat "$work/other-$expired_month.log")" == "not the service log" ] ||
    fail "a file of another name was touched: $(ls "$work")"
# The service manager shows no status line: the program writes it to its log.
grep -Eq "^$stamp velmor_sndd: status: lock system 127.0.0.1:8364: " "$work/service.log" ||
    fail "no status line in the log"
answer=$("$bin/tools/keyreq" --port 3100 --room 1110)
[ "$answer" == '<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>' ] ||
    fail "the service's answer: $answer"
# Seen from afar: the service answers health and metrics as the console program does.
if command -v curl >/dev/null; then
    health=$(curl -s -m 10 -w ' %{http_code}' http://127.0.0.1:9564/health) || fail "no /health: $?"
    [[ "$health" == "ok: lock system 127.0.0.1:8364: connected since "*" 200" ]] ||
        fail "the service's /health: $health"
    metrics=$(curl -s -m 10 http://127.0.0.1:9564/metrics) || fail "no /metrics: $?"
    grep -qx 'velmor_snd_key_requests_total{answer="made",reason=""} 1' <<<"$metrics" ||
        fail "the service's /metrics: $metrics"
fi
# The lock system gone: the lost link is a warning.
kill "$locksim"
wait "$locksim" 2>/dev/null || true
locksim=
wait_for_event "^0x0002 0x00000002 warn lost the link to the lock system at 127\.0\.0\.1:8364: " "the lost link"

wine sc stop velmor_sndd >/dev/null || true
wait_for_state STOPPED
grep -Eq "^$stamp velmor_sndd: stopped$" "$work/service.log" || fail "no orderly stop in the log"
grep -Eq "^$stamp Room = \[1110" "$work/service.log" || fail "the request's lines are not in the log"
# Its own lines went to the event log as well, each as the event of its kind, information unless
# it needs someone; its request lines did not.
reported=$(events)
for event in \
    "0x0004 0x00000001 trace version [0-9.]+ listening on port 3100\$" \
    "0x0004 0x00000004 trace keeping the key record in .*keys\.jsonl\$" \
    "0x0004 0x00000002 trace connected to the lock system at 127\.0\.0\.1:8364\$" \
    "0x0004 0x00000006 trace status: lock system 127\.0\.0\.1:8364: " \
    "0x0004 0x00000001 trace stopping: listener, then the link to 127\.0\.0\.1:8364\$" \
    "0x0004 0x00000001 trace stopped\$"; do
    grep -Eq "^$event" <<<"$reported" || fail "no event matching [$event]; reported: $reported"
done
! grep -Eq "Room = |keyrequest|request from" <<<"$reported" || fail "request lines in the event log: $reported"
# A service given no key record keeps one in the machine's program data (Wine's services find
# it at C:\users\Public), and says where.
records=$(sed -En 's/^.* velmor_sndd: keeping the key record in (.*\\velmor_sndd\\keys\.jsonl)\r?$/\1/p' "$work/service.log")
[ -n "$records" ] || fail "the service does not say where it keeps its key record"
records=$(winepath -u "$records")
jq -e '.room == "1110" and .answer == "made" and .code == "001"' "$records" >/dev/null ||
    fail "no key record of the request in $records: $(cat "$records" 2>&1)"
rm -f "$records"

out=$(wine "$exe" --uninstall-service | tr -d '\r')
[ "$out" == "velmor_sndd: removed the service velmor_sndd" ] || fail "uninstall said: $out"
wine sc query velmor_sndd >/dev/null 2>&1 && fail "still registered after the removal"
wine reg query "$source_key" /reg:64 >/dev/null 2>&1 && fail "the event source is still registered after the removal"
out=$(wine "$exe" --uninstall-service | tr -d '\r')
[ "$out" == "velmor_sndd: no service velmor_sndd is registered" ] || fail "a second removal said: $out"

# Started by hand with the service manager's option: told, not hung.
status=0
out=$(wine "$exe" --service 2>&1 | tr -d '\r') || status=$?
[ "$status" -eq 2 ] || fail "--service outside the service manager: status $status, $out"
echo "PASS"
