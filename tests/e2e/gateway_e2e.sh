#!/usr/bin/env bash
# The real velmor_sndd, locksim and keyreq on their fixed ports (3000, 8264), inside a private
# network namespace so they never meet anything else on the machine.
# Usage: gateway_e2e.sh BUILD_DIR [VELMOR_SNDD_EXE]
#   BUILD_DIR holds the Linux programs; with VELMOR_SNDD_EXE the gateway is that Windows
#   program under Wine, between the Linux stand-ins, and every stop is Ctrl-C (SIGINT, which
#   Wine hands to the console program as Ctrl-C).
set -euo pipefail
bin=$(cd "$1" && pwd)
windows_gateway=${2:+$(realpath "$2")}

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    if ! unshare -n true 2>/dev/null; then
        echo "SKIP: cannot make a private network namespace here (needs root)"
        exit 77
    fi
    # Wine's server makes the sockets: it must start inside the namespace, so none may run.
    [ -z "$windows_gateway" ] || { wineserver -k 2>/dev/null || true; wineserver -w || true; }
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
if [ -n "$windows_gateway" ]; then
    export WINEDEBUG=-all
    # One trivial process first: two starting a fresh Wine server at once can hang.
    wine cmd /c exit >/dev/null 2>&1 || true
    gateway_program=(wine "$windows_gateway")
    term=INT
    # A Wine process starting on a loaded machine (the other Windows tests run beside this one)
    # has been seen to take over 30 s before its first line.
    line_wait=90
else
    gateway_program=("$bin/velmor_sndd")
    term=TERM
    line_wait=30
fi

# shellcheck source=../support/scratch.sh
. "$(dirname "$0")/../support/scratch.sh"
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/gateway.err" ] && sed 's/^/gateway stderr: /' "$work/gateway.err" >&2
    # A Windows gateway that never said a word: whether Wine had started it, and what else ran.
    [ -z "$windows_gateway" ] || ps -eo pid,etime,stat,args | grep -Ei 'wine|velmor|locksim' | grep -v grep |
        sed 's/^/process: /' >&2
    exit 1
}
# shellcheck source=../support/lines.sh
. "$(dirname "$0")/../support/lines.sh"
# Reads lines from fd until one equals the text.
expect_line_among() { # fd, expected text, what
    local line
    while IFS= read -r -t "$line_wait" -u "$1" line; do
        [ "$line" == "$2" ] && return 0
    done
    fail "no line [$2] for $3"
}
# Reads lines from fd until one matches the extended regular expression.
expect_line_matching() { # fd, pattern, what
    local line
    while IFS= read -r -t "$line_wait" -u "$1" line; do
        [[ "$line" =~ $2 ]] && return 0
    done
    fail "no line matching [$2] for $3"
}

STX=$'\x02' ETX=$'\x03' EOT=$'\x04'
success='<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>'
failure() { echo "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"1\" text=\"$1\"/>"; }

# locksim alone with the given options, its output on fd 3 through a fresh fifo.
stand_in() {
    rm -f "$work/locksim.out"
    mkfifo "$work/locksim.out"
    "$bin/tools/locksim" "$@" >"$work/locksim.out" &
    locksim=$!
    exec 3<"$work/locksim.out"
}
# The gateway's own options for the next start.
gateway_options=()
# locksim with the given options on fd 3, then velmor_sndd (with gateway_options) with its log on
# fd 4, once its link is connected.
start() {
    rm -f "$work/locksim.out" "$work/gateway.out"
    mkfifo "$work/locksim.out" "$work/gateway.out"
    "$bin/tools/locksim" "$@" >"$work/locksim.out" &
    locksim=$!
    exec 3<"$work/locksim.out"
    expect_line 3 "locksim: listening on 127.0.0.1:8264" "lock-system stand-in start"
    "${gateway_program[@]}" "${gateway_options[@]}" >"$work/gateway.out" 2>"$work/gateway.err" &
    gateway=$!
    exec 4<"$work/gateway.out"
    expect_line 3 "locksim: connection 1 opened" "link connect"
    # The stand-in sees the link a moment before the gateway has it: wait for the gateway's word.
    wait_for_link_line "127.0.0.1:8264"
}
wait_for_link_line() { # host:port
    wait_for_line "$work/gateway.err" "^velmor_sndd: connected to the lock system at $1$" ||
        fail "the gateway did not report its link to $1"
}
# Stops the gateway with the signal and checks that it ends with 0; then the stand-in.
stop() { # signal
    kill "-$1" "$gateway"
    local status=0
    wait "$gateway" || status=$?
    [ "$status" -eq 0 ] || fail "gateway exit status after SIG$1: $status"
    kill "$locksim"
    wait "$locksim" 2>/dev/null || true
    exec 3<&- 4<&-
}
record() { # file, room, jq condition: the room's one record meets it
    jq -s -e --arg room "$2" --arg stamp "^$stamp\$" \
        "[.[] | select(.room == \$room)] | length == 1 and (.[0] | $3)" "$1" >/dev/null || fail "key record for room $2: not ($3): $(grep -F "\"room\":\"$2\"" "$1")"
}
# The local time that starts each line of a log file.
moment='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}'
stamp="$moment[+-][0-9]{2}:[0-9]{2}"
# keyreq with the options; sets answer and status.
ask() {
    status=0
    answer=$("$bin/tools/keyreq" "$@" 2>/dev/null) || status=$?
}

# --- A key request, byte for byte, its four log lines, a request that fails, a second gateway.
start --code 001
request='<?xml version="1.0"?><keyrequest room="1110" folio="123456" encoder="1" key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00" to-date-time="2020-07-16 14:00:00"/>'
ask --room 1110 --folio 123456
[ "$status" -eq 0 ] || fail "keyreq exit status $status"
[ "$answer" == "$success" ] || fail "answer: $answer"

expect_line 3 "conn 1 line 1: <STX>2000000010019999   1110           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "encoder command line"
expect_line 4 "$request" "log line 1 (request)"
# Readable by default: the control characters by name, so a record stays one line.
expect_line 4 "<STX>200000001RS001<ETX><EOT>" "log line 2 (reply)"
expect_line 4 "001" "log line 3 (result code)"
expect_line 4 "Room = [1110           ] From = [0716201400] To = [0716201400]" "log line 4 (summary)"

# A room that cannot be read: nothing goes to the lock system, the connection closes unanswered.
ask --room 101A
[ "$status" -eq 2 ] || fail "unreadable room: keyreq exit status $status, expected 2"
expect_line 4 "${request/1110/101A}" "log line of the failed request"
# The failure, on one line, with the front desk's address.
grep -Eq "^request from 127\.0\.0\.1:[0-9]+ not answered: EConvertError: '101A' is not a valid integer value$" \
    "$work/gateway.err" || fail "no failure line for the unreadable room"

# A folio holding CR LF would make the lock system receive two command lines: refused whole.
ask --room 1110 --folio $'1\r\nXXXXXXXXXXXXXXXXXXXX1003'
[ "$status" -eq 2 ] || fail "folio with CR LF: keyreq exit status $status, expected 2"
# A request written in two pieces, 50 ms apart, is gathered and answered.
ask --room 1110 --pieces 2 --pause 50
[ "$status" -eq 0 ] || fail "request in two pieces: keyreq exit status $status, answer $answer"
# The next line locksim saw is the gathered request's: nothing came of the CR LF folio.
expect_line 3 "conn 1 line 2: <STX>2000000010019999   1110           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "line after the refused folio"

# A second gateway cannot bind port 3000.
status=0
"${gateway_program[@]}" >/dev/null 2>"$work/second.err" </dev/null || status=$?
[ "$status" -eq 1 ] || fail "second gateway: exit status $status, expected 1"
grep -q "EIdCouldNotBindSocket: Could not bind socket. Address and port are already in use." \
    "$work/second.err" || fail "second gateway: $(cat "$work/second.err")"
stop INT

# --- Replies in two pieces, cut before the code and inside it: each request its own code.
for cut in 12 14; do
    start --code-by-room --split 50 --split-at "$cut"
    ask --room 1001
    [ "$status" -eq 0 ] || fail "split at $cut: room 1001: $answer (status $status)"
    ask --room 1003
    [ "$answer" == "$(failure 003)" ] || fail "split at $cut: room 1003: $answer"
    stop "$term"
done

# --- Leftovers before a reply are never its start: noise in the reply's piece, and a reply's tail
# that comes after the next line was written (read from the first byte, the five-byte tail would
# make room 1003's "003" read as "001", keys made).
start --code 003 --before-reply '\r\n\0\0\0'
ask --room 1110
[ "$answer" == "$(failure 003)" ] || fail "noise before the reply: $answer"
expect_line 4 "$request" "request before the noise"
expect_line 4 "Discarded stale data from the lock system: <CR><LF><0x00><0x00><0x00>" "the noise discarded"
expect_line 4 "<STX>200000001RS003<ETX><EOT>" "the reply read from its STX"
stop "$term"
for tail in '\r\n' '\x03\x04\r\n0'; do
    start --code-by-room --after-reply "$tail" --after-delay 20
    ask --room 1001
    [ "$answer" == "$success" ] || fail "tail $tail: room 1001: $answer"
    ask --room 1003
    [ "$answer" == "$(failure 003)" ] || fail "tail $tail: room 1003: $answer"
    stop "$term"
done

# --- Four megabytes of unasked-for "keys made" replies after the first reply: the next request is
# never answered from them.
start --code-by-room --flood-after 1 --flood-bytes 4194304
ask --room 1001
[ "$answer" == "$success" ] || fail "before the flood: $answer"
ask --room 1003
[ "$answer" == "$(failure 003)" ] || [ "$answer" == "$(failure "")" ] ||
    fail "after the flood: $answer"
# Shown by its first 256 characters and its size, never whole.
expect_line_matching 4 '^Discarded stale data from the lock system: (<STX>200000001RS001<ETX><EOT>){15}<STX> \.\.\. \([0-9]+ bytes in all\)$' "the flood discarded"
stop "$term"

# --- A reply later than the 15 s wait: the first request is answered without a code, and the
# next (here 1.5 s later) gets its own code, not the late one. By default the link is connected
# anew before the next line, so the late reply (here only its first five characters, then
# silence) cannot reach it; with the connect-once link the late reply is waited for, discarded
# and logged before the next line is written.
for link_kind in reconnecting connect-once; do
    if [ "$link_kind" == reconnecting ]; then
        gateway_options=()
        start --code-by-room --delay 16000 --delay-line 1 --late-partial 5
    else
        rm -f "$work/late.jsonl"
        gateway_options=(--reconnect 0 --key-record "$work/late.jsonl")
        start --code-by-room --delay 16000 --delay-line 1
    fi
    "$bin/tools/keyreq" --room 1001 >"$work/first.answer" 2>/dev/null &
    first=$!
    # Written, and waiting for its reply, once its request is logged.
    expect_line 4 '<?xml version="1.0"?><keyrequest room="1001" folio="123456" encoder="1" key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00" to-date-time="2020-07-16 14:00:00"/>' "first request, $link_kind"
    if [ "$link_kind" == connect-once ]; then
        # Its turn comes once the first has timed out, and its own 15 s end before the late
        # reply has come: never sent, answered that no key was made.
        "$bin/tools/keyreq" --room 1005 >"$work/quick.answer" 2>/dev/null &
        quick=$!
    fi
    sleep 1.5
    ask --room 1003
    [ "$answer" == "$(failure 003)" ] || fail "$link_kind: request after the late reply: $answer"
    wait "$first" || true
    [ "$(cat "$work/first.answer")" == "$(failure "")" ] || fail "$link_kind: late request: $(cat "$work/first.answer")"
    if [ "$link_kind" == reconnecting ]; then
        expect_line_among 3 "locksim: connection 2 opened" "the link connected anew"
        grep -q "^velmor_sndd: connecting anew to the lock system at 127.0.0.1:8264: no reply within 15000 ms, so a late one cannot reach a later request$" \
            "$work/gateway.err" || fail "no line for the link connected anew"
    else
        expect_line_among 4 "Discarded a late reply from the lock system; a key may have been made for the previous request: <STX>200000001RS001<ETX><EOT>" "late reply log line"
        wait "$quick" || true
        [ "$(cat "$work/quick.answer")" == "$(failure "")" ] || fail "request not sent in time: $(cat "$work/quick.answer")"
        record "$work/late.jsonl" 1005 '.answer == "not made" and (.line_sent | not)
            and .code == null and .reason == "not sent in time" and .ms >= 15000'
        record "$work/late.jsonl" 1001 '.answer == "not made" and .line_sent and .code == ""
            and .reason == null'
    fi
    stop "$term"
done
gateway_options=()

# --- The command line: the version, a refusal that starts nothing, chosen ports, the raw log.
# The help offers what the system has: SIGHUP's reopening where there are signals, the service's
# options and its files' places on Windows.
"${gateway_program[@]}" --help >"$work/help.out" || fail "--help exit status $?"
if [ -n "$windows_gateway" ]; then
    grep -q SIGHUP "$work/help.out" && fail "--help offers SIGHUP on Windows"
    grep -q -- "--install-service" "$work/help.out" || fail "--help lacks the service's options"
    grep -qF '%ProgramData%\velmor_sndd\velmor_sndd.log' "$work/help.out" ||
        fail "--help does not name the service log's place"
else
    grep -q "(SIGHUP reopens it)" "$work/help.out" || fail "--help does not say SIGHUP reopens the files"
fi
version=$("${gateway_program[@]}" --version) || fail "--version exit status $?"
[[ "$version" =~ ^velmor_sndd\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: $version"
status=0
"${gateway_program[@]}" --port 0 >/dev/null 2>"$work/refused.err" || status=$?
[ "$status" -eq 2 ] || fail "--port 0: exit status $status, expected 2"
grep -q "^velmor_sndd: --port: '0' is not a whole number from 1 to 65535" "$work/refused.err" ||
    fail "--port 0: $(cat "$work/refused.err")"
rm -f "$work/locksim.out" "$work/gateway.out"
mkfifo "$work/locksim.out" "$work/gateway.out"
"$bin/tools/locksim" --port 8265 >"$work/locksim.out" &
locksim=$!
exec 3<"$work/locksim.out"
expect_line 3 "locksim: listening on 127.0.0.1:8265" "stand-in on 8265"
"${gateway_program[@]}" --port 3001 --link-host localhost --link-port 8265 --raw-log \
    >"$work/gateway.out" 2>"$work/gateway.err" &
gateway=$!
exec 4<"$work/gateway.out"
expect_line 3 "locksim: connection 1 opened" "link connect to 8265"
wait_for_link_line "localhost:8265"
ask --port 3001 --room 1110
[ "$answer" == "$success" ] || fail "chosen ports: $answer (status $status)"
expect_line 4 "$request" "raw log line 1"
expect_line 4 "${STX}200000001RS001${ETX}${EOT}" "raw log line 2 (the reply as it came)"
stop "$term"

# --- A log file instead of standard output and error; on Linux, SIGHUP reopens it after a move.
rm -f "$work/locksim.out"
mkfifo "$work/locksim.out"
"$bin/tools/locksim" >"$work/locksim.out" &
locksim=$!
exec 3<"$work/locksim.out"
expect_line 3 "locksim: listening on 127.0.0.1:8264" "stand-in for the log file"
"${gateway_program[@]}" --log-file "$work/velmor.log" --key-record "$work/rotated.jsonl" \
    >"$work/logged.out" 2>"$work/logged.err" &
gateway=$!
expect_line 3 "locksim: connection 1 opened" "link connect with a log file"
wait_for_line "$work/velmor.log" " velmor_sndd: connected to the lock system at 127.0.0.1:8264$" ||
    true
ask --room 1110
[ "$answer" == "$success" ] || fail "with a log file: $answer"
grep -Eq "^$stamp <STX>200000001RS001<ETX><EOT>$" "$work/velmor.log" || fail "no reply line in the log file"
[ ! -s "$work/logged.out" ] && [ ! -s "$work/logged.err" ] || fail "output beside the log file"
if [ -z "$windows_gateway" ]; then
    [ "$(stat -c %a "$work/velmor.log")" == 640 ] || fail "log file mode $(stat -c %a "$work/velmor.log")"
    mv "$work/velmor.log" "$work/velmor.log.1"
    mv "$work/rotated.jsonl" "$work/rotated.jsonl.1"
    kill -HUP "$gateway"
    wait_for_line "$work/velmor.log" "reopened the key record" || true
    ask --room 1110
    [ "$answer" == "$success" ] || fail "after the reopen: $answer"
    grep -Eq "^$stamp <STX>200000001RS001<ETX><EOT>$" "$work/velmor.log" || fail "no reply line after the reopen"
    [ "$(grep -c " Room = " "$work/velmor.log.1")" -eq 1 ] || fail "the moved file was written on"
    [ "$(wc -l <"$work/rotated.jsonl.1")" -eq 1 ] || fail "the moved key record was written on"
fi
stop "$term"
[ "$(wc -l <"$work/rotated.jsonl")" -eq 1 ] || fail "key record after the reopen: $(cat "$work/rotated.jsonl")"

# --- A key record that cannot be written (a full disk) never holds up an answer, and is told
# once a minute.
if [ -z "$windows_gateway" ]; then
    gateway_options=(--key-record /dev/full)
    start --code 001
    for _ in 1 2 3; do
        ask --room 1110
        [ "$answer" == "$success" ] || fail "with a full key record: $answer"
    done
    stop "$term"
    gateway_options=()
    [ "$(grep -c "^velmor_sndd: cannot write to the key record /dev/full: No space left on device$" "$work/gateway.err")" -eq 1 ] ||
        fail "the full key record was not told once: $(cat "$work/gateway.err")"
fi

# --- Only the front desk gets keys, and every key is on record. Allowed: 127.0.0.1 alone, two
# connections at most; the log file stamped in the local time (Nepal's +05:45 shows the offset's
# minutes), every request read in the key record.
stand_in --code-by-room
expect_line 3 "locksim: listening on 127.0.0.1:8264" "stand-in for the records"
TZ=Asia/Kathmandu "${gateway_program[@]}" --allow 127.0.0.1 --max-connections 2 \
    --log-file "$work/stamped.log" --key-record "$work/keys.jsonl" >/dev/null 2>&1 &
gateway=$!
expect_line 3 "locksim: connection 1 opened" "link connect with the records"
wait_for_line "$work/stamped.log" "velmor_sndd: connected to the lock system at 127.0.0.1:8264$" ||
    fail "no link line in the stamped log"
ask --room 1001
[ "$answer" == "$success" ] || fail "an allowed front desk: $answer"
ask --room 1003
[ "$answer" == "$(failure 003)" ] || fail "an allowed front desk, keys not made: $answer"
ask --room 10A
[ "$status" -eq 2 ] || fail "an unreadable request: status $status"
# Another front desk on this machine's 127.0.0.2: closed unread, its line never sent.
ask --source 127.0.0.2 --room 1007
[ "$status" -eq 2 ] || fail "a front desk not allowed: status $status, answer [$answer]"
wait_for_line "$work/stamped.log" "velmor_sndd: refused a connection from 127\.0\.0\.2:[0-9]*: the address is not among those allowed$" ||
    fail "no line for the refused front desk"
# Two connections held open; a third is closed at once, and the two are still served.
exec 5<>/dev/tcp/127.0.0.1/3000 6<>/dev/tcp/127.0.0.1/3000
ask --room 1005
[ "$status" -eq 2 ] || fail "a third connection: status $status, answer [$answer]"
wait_for_line "$work/stamped.log" "velmor_sndd: refused a connection from 127\.0\.0\.1:[0-9]*: 2 connections are open, the most allowed$" ||
    fail "no line for the connection beyond the most"
printf '%s' "${request/1110/2001}" >&5
IFS= read -r -t 30 -u 5 line || fail "no answer on a held connection"
[ "${line%$'\r'}" == "$success" ] || fail "a held connection: $line"
exec 5>&- 6>&-
expect_line 3 "conn 1 line 1: <STX>2000000010019999   1001           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "the allowed request"
expect_line 3 "conn 1 line 2: <STX>2000000010019999   1003           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS003<ETX><EOT>" "the request for keys not made"
expect_line 3 "conn 1 line 3: <STX>2000000010019999   2001           117FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "the request on a held connection (and none from 127.0.0.2)"
stop "$term"
offset='\+05:45'
# Wine's C runtime takes its zone from the Linux machine's, not from TZ.
[ -z "$windows_gateway" ] || offset='[+-][0-9]{2}:[0-9]{2}'
grep -Eq "^$moment$offset velmor_sndd: version " "$work/stamped.log" ||
    fail "the log file's first line is not stamped: $(head -1 "$work/stamped.log")"
if grep -Evq "^$stamp " "$work/stamped.log"; then
    fail "a line without its stamp: $(grep -Ev "^$stamp " "$work/stamped.log" | head -1)"
fi
# The key record: one JSON line for each of the four requests read, none for the refused ones.
[ "$(jq -s length "$work/keys.jsonl")" -eq 4 ] || fail "key records: $(cat "$work/keys.jsonl")"
record "$work/keys.jsonl" 1001 '.answer == "made" and .code == "001" and .line_sent and .front_desk == "127.0.0.1"
    and (.front_desk_port | type) == "number" and .folio == "123456" and .key_count == "1"
    and .key_type == "0" and .valid_from == "2020-07-16 14:00:00" and .valid_to == "2020-07-16 14:00:00"
    and .line_dates == ["0716201400", "0716201400"] and .reason == null and .ms >= 0
    and (.received | test($stamp)) and .answered >= .received'
record "$work/keys.jsonl" 1003 '.answer == "not made" and .code == "003" and .line_sent and .reason == null'
record "$work/keys.jsonl" 10A '.answer == "none" and .code == null and (.line_sent | not) and .line_dates == null
    and .reason == "request not readable"
    and .failure == "EConvertError: '"'"'10A'"'"' is not a valid integer value"'
if [ -z "$windows_gateway" ]; then
    [ "$(stat -c %a "$work/keys.jsonl")" == 640 ] || fail "key record mode $(stat -c %a "$work/keys.jsonl")"
fi

# Served from 127.0.0.2 once its range is allowed; not reachable on 127.0.0.2 when the gateway
# listens on 127.0.0.1 alone.
gateway_options=(--allow 127.0.0.0/8 --listen 127.0.0.1)
start --code 001
ask --source 127.0.0.2 --room 1110
[ "$answer" == "$success" ] || fail "a front desk within the allowed range: $answer (status $status)"
ask --host 127.0.0.2 --room 1110
[ "$status" -eq 3 ] || fail "an address not listened on: status $status, answer [$answer]"
stop "$term"
gateway_options=()

# --- Configured once: a settings file points the gateway at a lock system on 127.0.0.2; the
# command line wins over it; a bad line is named by file and line and starts nothing.
cat >"$work/velmor_snd.conf" <<'CONF'
# as an administrator writes it
link-host = 127.0.0.2
allow = 127.0.0.0/8

reconnect = 1
CONF
settings_file=$work/velmor_snd.conf
[ -z "$windows_gateway" ] || settings_file=$(winepath -w "$settings_file")
stand_in --host 127.0.0.2 --code 002
expect_line 3 "locksim: listening on 127.0.0.2:8264" "stand-in on 127.0.0.2"
"${gateway_program[@]}" --config "$settings_file" >/dev/null 2>"$work/gateway.err" &
gateway=$!
expect_line 3 "locksim: connection 1 opened" "the link to 127.0.0.2 from the settings"
wait_for_link_line "127.0.0.2:8264"
ask --room 1110
[ "$answer" == "$success" ] || fail "through the lock system the settings name: $answer"
expect_line_matching 3 "^conn 1 line 1: .*1110.* -> <STX>200000001RS002<ETX><EOT>$" "the line on 127.0.0.2"
stop "$term"
status=0
out=$("${gateway_program[@]}" --config "$settings_file" --link-host 127.0.0.3 --check 2>&1) || status=$?
[ "$status" -eq 0 ] && [[ "$out" == "velmor_sndd: the settings are fine (read from $settings_file)"* ]] ||
    fail "--check: status $status, $out"
printf 'link-host = 127.0.0.2\nlink-port = 70000\n' >"$work/velmor_snd.conf"
status=0
"${gateway_program[@]}" --config "$settings_file" >/dev/null 2>"$work/refused.err" || status=$?
[ "$status" -eq 2 ] || fail "a bad setting: exit status $status, expected 2"
grep -qF "velmor_sndd: $settings_file:2: --link-port: '70000' is not a whole number from 1 to 65535" "$work/refused.err" ||
    fail "a bad setting: $(cat "$work/refused.err")"

# --- Left running: the stand-in stops while the gateway is idle, and the loss is noticed at once,
# with no request (told once); requests fail at once while it is down, saying so; a refused
# attempt is told; the stand-in comes back and the first request goes over the new link.
rm -f "$work/locksim.out" "$work/gateway.out"
mkfifo "$work/locksim.out"
"$bin/tools/locksim" >"$work/locksim.out" &
locksim=$!
exec 3<"$work/locksim.out"
expect_line 3 "locksim: listening on 127.0.0.1:8264" "stand-in before the loss"
"${gateway_program[@]}" --reconnect 1 >"$work/gateway.out" 2>"$work/gateway.err" &
gateway=$!
expect_line 3 "locksim: connection 1 opened" "link connect with --reconnect"
wait_for_link_line "127.0.0.1:8264"
# The link is watched by the system too: keepalive finds a lock-system machine that is gone.
if command -v ss >/dev/null; then
    ss -tnoH state established '( dport = :8264 )' | grep -q "timer:(keepalive" ||
        fail "no keepalive on the link: $(ss -tnoH state established '( dport = :8264 )')"
fi
ask --room 1110
[ "$answer" == "$success" ] || fail "before the loss: $answer"
kill "$locksim"
wait "$locksim" 2>/dev/null || true
exec 3<&-
wait_for_line "$work/gateway.err" "^velmor_sndd: lost the link to the lock system at 127.0.0.1:8264: EIdConnClosedGracefully: Connection Closed Gracefully.; connecting again every 1 s$" ||
    fail "no line for the lost link while idle"
wait_for_line "$work/gateway.err" "^velmor_sndd: cannot connect to the lock system at 127.0.0.1:8264 (attempt 1): EIdSocketError: Socket Error # 10061 Connection refused." ||
    fail "no line for the refused attempt"
ask --room 1110
[ "$status" -eq 2 ] || fail "a request while the link is down: status $status"
wait_for_line "$work/gateway.err" "^request from 127.0.0.1:[0-9]* not answered: the link to the lock system at 127.0.0.1:8264 is down, connecting again every 1 s$" ||
    fail "no failure line for a request while the link is down"
mkfifo "$work/back.out"
"$bin/tools/locksim" >"$work/back.out" &
locksim=$!
exec 3<"$work/back.out"
expect_line 3 "locksim: listening on 127.0.0.1:8264" "stand-in back"
expect_line 3 "locksim: connection 1 opened" "the link connected again"
wait_for_line "$work/gateway.err" "^velmor_sndd: connected to the lock system at 127.0.0.1:8264 again after [0-9]* attempts$" ||
    fail "no line for the link connected again"
ask --room 1110 --folio 123456
[ "$answer" == "$success" ] || fail "the first request after the restart: $answer"
expect_line_among 3 "conn 1 line 1: <STX>2000000010019999   1110           176FF0107162014000716201400""0000000000000*209123456<ETX><EOT> -> <STX>200000001RS001<ETX><EOT>" "the request over the new link"
# A stand-in that is stopping may still take a connect into its queue, and reset it as it ends:
# a second loss. Each loss is told once, and each is followed by its connect.
[ "$(grep -c "lost the link" "$work/gateway.err")" -eq "$(grep -c "connected to the lock system at 127.0.0.1:8264 again" "$work/gateway.err")" ] ||
    fail "a loss was told more than once"
[ "$(grep -c "cannot connect" "$work/gateway.err")" -eq 1 ] || fail "refusals within a minute were told more than once"
stop "$term"

# --- A lock system that does not answer at start: the gateway listens at once and requests fail at
# once, saying why; each connect attempt ends within the connect time-out; once a lock system
# answers, the link comes up and requests are answered.
stand_in --unresponsive
expect_line 3 "locksim: listening on 127.0.0.1:8264, never accepting" "unresponsive stand-in at start"
"${gateway_program[@]}" --reconnect 1 --connect-timeout 1 >/dev/null 2>"$work/gateway.err" &
gateway=$!
wait_for_line "$work/gateway.err" "^velmor_sndd: version .* listening on port 3000" ||
    fail "not listening while the lock system hangs"
ask --room 1110
[ "$status" -eq 2 ] || fail "a request before the link: status $status, answer [$answer]"
wait_for_line "$work/gateway.err" "^request from 127.0.0.1:[0-9]* not answered: the link to the lock system at 127.0.0.1:8264 is down, connecting again every 1 s$" ||
    fail "no failure line for a request before the link"
wait_for_line "$work/gateway.err" "^velmor_sndd: cannot connect to the lock system at 127.0.0.1:8264 (attempt 1): EIdSocketError: Socket Error # 10060 Connection timed out." ||
    fail "no line for the attempt that timed out"
kill "$locksim"
wait "$locksim" 2>/dev/null || true
exec 3<&-
stand_in
expect_line 3 "locksim: listening on 127.0.0.1:8264" "stand-in that answers"
wait_for_line "$work/gateway.err" "^velmor_sndd: connected to the lock system at 127.0.0.1:8264 after [0-9]* attempts$" ||
    fail "no line for the link that came up"
ask --room 1110
[ "$answer" == "$success" ] || fail "once the lock system answers: $answer"
stop "$term"

# --- A stop while the start-up connect hangs: the connect is abandoned, the exit is 0 at once.
stand_in --unresponsive
expect_line 3 "locksim: listening on 127.0.0.1:8264, never accepting" "unresponsive stand-in"
"${gateway_program[@]}" --reconnect 0 --connect-timeout 600 >/dev/null 2>"$work/gateway.err" &
gateway=$!
# Served (and failed at the missing link) once the listener is up; the connect then hangs.
for _ in $(seq 100); do
    ask --room 1110 --timeout 1000
    [ "$status" -eq 2 ] && break
    sleep 0.1
done
[ "$status" -eq 2 ] || fail "gateway with a hanging connect does not listen"
# Its own output elsewhere: a sleep left behind must not hold the test's output open.
(sleep 10 && kill -KILL "$gateway") >/dev/null 2>&1 &
watchdog=$!
kill "-$term" "$gateway"
status=0
wait "$gateway" || status=$?
kill "$watchdog" 2>/dev/null || true
[ "$status" -eq 0 ] || fail "SIG$term during the start-up connect: exit status $status"
kill "$locksim"
echo "PASS"
