#!/usr/bin/env bash
# The monitoring endpoint from outside: the real velmor_sndd, locksim and keyreq on their fixed
# ports (3000, 8264; monitoring on 9464, a Prometheus server on 9090), inside a private network
# namespace so they never meet anything else on the machine. What the endpoint says is read by
# parsers written elsewhere: promtool, the Python Prometheus client and a Prometheus server.
# Usage: monitoring_e2e.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)

# Debian's python3 holds Debian's Prometheus client; a python3 earlier on the PATH may lack it.
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import prometheus_client' 2>/dev/null; then
        python=$candidate
        break
    fi
done
missing=()
[ -n "$python" ] || missing+=(python3-prometheus-client)
for tool in promtool prometheus; do
    command -v "$tool" >/dev/null || missing+=(prometheus)
done
for tool in curl jq; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "SKIP: missing the Debian packages $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"
    exit 77
fi
# shellcheck source=../support/netns.sh
. "$(dirname "$0")/../support/netns.sh" "$@"
# shellcheck source=../support/scratch.sh
. "$(dirname "$0")/../support/scratch.sh"
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/gateway.err" ] && sed 's/^/gateway stderr: /' "$work/gateway.err" >&2
    [ -f "$work/prometheus.log" ] && tail -n 20 "$work/prometheus.log" | sed 's/^/prometheus: /' >&2
    exit 1
}
# shellcheck source=../support/lines.sh
. "$(dirname "$0")/../support/lines.sh"
# Waits for a process of ours to end, killing it after 10 s, so that no stop can hang the test.
# Its own output elsewhere: a sleep left behind must not hold the test's output open. The watchdog
# is ended with SIGKILL: a subshell that a catchable signal reaches before it has dropped the
# script's traps runs the EXIT trap, ending our jobs and removing the scratch folder.
wait_bounded() { # pid; its exit status
    (sleep 10 && kill -KILL "$1") >/dev/null 2>&1 &
    local watchdog=$! status=0
    wait "$1" || status=$?
    kill -KILL "$watchdog" 2>/dev/null || true
    # Reaped here, where the shell's word that it was killed goes nowhere.
    { wait "$watchdog"; } 2>/dev/null || true
    return "$status"
}

# locksim with the given options, its output on fd 3 through a fresh fifo.
stand_in() {
    rm -f "$work/locksim.out"
    mkfifo "$work/locksim.out"
    "$bin/tools/locksim" "$@" >"$work/locksim.out" &
    locksim=$!
    exec 3<"$work/locksim.out"
    expect_line 3 "locksim: listening on 127.0.0.1:8264" "lock-system stand-in start"
}
# The gateway's own options for the next start.
gateway_options=()
# locksim with the given options, then velmor_sndd (with gateway_options), once its monitoring
# answers and its link is connected.
start() {
    stand_in "$@"
    "$bin/velmor_sndd" "${gateway_options[@]}" >"$work/gateway.out" 2>"$work/gateway.err" &
    gateway=$!
    expect_line 3 "locksim: connection 1 opened" "link connect"
    wait_for_line "$work/gateway.err" "^velmor_sndd: answering monitoring (/health, /metrics) on " ||
        fail "the gateway does not answer monitoring"
    # The stand-in sees the link a moment before the gateway has it: wait for the gateway's word.
    wait_for_line "$work/gateway.err" "^velmor_sndd: connected to the lock system at 127.0.0.1:8264$" ||
        fail "the gateway did not report its link"
}
stop_stand_in() {
    kill "$locksim"
    wait_bounded "$locksim" || true
    exec 3<&-
}
stop() {
    kill -TERM "$gateway"
    local status=0
    wait_bounded "$gateway" || status=$?
    [ "$status" -eq 0 ] || fail "gateway exit status after SIGTERM: $status"
    stop_stand_in
}
# keyreq with the options; sets answer and status.
ask() {
    status=0
    answer=$("$bin/tools/keyreq" "$@" 2>/dev/null) || status=$?
}
success='<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>'
failure() { echo "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"1\" text=\"$1\"/>"; }

endpoint=http://127.0.0.1:9464
# curl for the URL with the options; sets code, content_type and body.
http_get() { # url, curl's options
    local url=$1 out
    shift
    out=$(curl -sS --max-time 10 -o "$work/body" -w '%{http_code}\t%{content_type}' "$@" "$url") ||
        fail "GET $url: curl exit status $?"
    code=${out%%$'\t'*}
    content_type=${out#*$'\t'}
    body=$(cat "$work/body")
}
# The local time the log stamps (/health says since when with it).
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}'
health_up="^ok: lock system 127\.0\.0\.1:8264: connected since ($stamp)\$"
health_down="^down: lock system 127\.0\.0\.1:8264: not connected since ($stamp); connecting again every 1 s\$"
# /health's status and line; since is the stamp in it.
expect_health() { # status, pattern, what, then the URL and curl's options (default: this endpoint)
    local want=$1 pattern=$2 what=$3
    shift 3
    [ $# -gt 0 ] || set -- "$endpoint/health"
    http_get "$@"
    if [ "$code" != "$want" ] || ! [[ "$body" =~ $pattern ]]; then
        fail "/health $what: $code [$body]"
    fi
    since=${BASH_REMATCH[1]}
}

# The gateway's threads now.
threads() { awk '/^Threads:/ { print $2 }' "/proc/$gateway/status"; }
# Waits until the gateway runs the given number of threads, for at most 10 s: a connection's
# thread tells nobody when it ends, so the count is polled.
expect_threads() { # count, what
    local _ now
    for _ in $(seq 200); do
        now=$(threads)
        [ "$now" -ne "$1" ] || return 0
        sleep 0.05
    done
    fail "$2: the gateway runs $now threads, $1 when idle: a connection's thread outlives its client"
}

# Every sample as the Python client reads it, one a line: name{label="value",…} value, the
# labels sorted by name.
parse_metrics='
import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(sys.stdin.read()):
    for sample in family.samples:
        labels = ",".join(f"{name}=\"{value}\"" for name, value in sorted(sample.labels.items()))
        value = sample.value
        print(f"{sample.name}{{{labels}}} {int(value) if value.is_integer() else repr(value)}")
'
declare -A samples=()
# /metrics (with curl's options), checked by promtool, its samples into `samples` as the Python
# client parsed them.
scrape() {
    http_get "$endpoint/metrics" "$@"
    [ "$code" == 200 ] || fail "/metrics: status $code"
    [ "$content_type" == "text/plain; version=0.0.4; charset=utf-8" ] ||
        fail "/metrics: Content-Type $content_type"
    local complaints line
    complaints=$(promtool check metrics <"$work/body" 2>&1) ||
        fail "promtool check metrics: exit status $?: $complaints"
    [ -z "$complaints" ] || fail "promtool check metrics: $complaints"
    "$python" -c "$parse_metrics" <"$work/body" >"$work/samples" ||
        fail "the Python Prometheus client cannot read /metrics: $(cat "$work/body")"
    samples=()
    while IFS= read -r line; do
        samples["${line% *}"]=${line##* }
    done <"$work/samples"
}
# Pairs of a series (name{labels}, as parse_metrics writes it) and its value in the last scrape.
expect_values() { # what, then series, value, series, value …
    local what=$1
    shift
    while [ $# -gt 0 ]; do
        [ "${samples[$1]-absent}" == "$2" ] || fail "$what: $1 is ${samples[$1]-absent}, expected $2"
        shift 2
    done
}
compare() { # value, operator, value
    awk -v a="$1" -v b="$3" "BEGIN { exit !(a $2 b) }"
}
made='velmor_snd_key_requests_total{answer="made",reason=""}'
not_made='velmor_snd_key_requests_total{answer="not made",reason=""}'
unreadable='velmor_snd_key_requests_total{answer="none",reason="request not readable"}'
link_down='velmor_snd_key_requests_total{answer="none",reason="link down"}'
not_allowed='velmor_snd_front_desks_refused_total{reason="not allowed"}'
over_limit='velmor_snd_front_desks_refused_total{reason="over limit"}'
last_made='velmor_snd_last_keys_made_timestamp_seconds{}'
link_up='velmor_snd_link_up{}'
connects_total='velmor_snd_link_connects_total{}'
losses_total='velmor_snd_link_losses_total{}'
link_changed='velmor_snd_link_last_change_timestamp_seconds{}'
request_count='velmor_snd_key_request_duration_seconds_count{}'
reply_count='velmor_snd_lock_reply_duration_seconds_count{}'
not_sent='velmor_snd_key_requests_not_sent_total{}'
open_desks='velmor_snd_front_desk_connections{}'
# What holds in every scrape here: each histogram's +Inf bucket is its count, every request read
# is timed once, and the link is up exactly when its connects outnumber its losses (no reply
# comes late here, so the link is never connected anew while up).
expect_consistent() { # what
    local histogram all count key requests=0
    for histogram in velmor_snd_key_request_duration_seconds velmor_snd_lock_reply_duration_seconds; do
        all="${histogram}_bucket{le=\"+Inf\"}"
        count="${histogram}_count{}"
        [ "${samples[$all]-}" == "${samples[$count]-}" ] ||
            fail "$1: $all is ${samples[$all]-absent}, $count is ${samples[$count]-absent}"
    done
    for key in "${!samples[@]}"; do
        [[ "$key" != velmor_snd_key_requests_total\{* ]] || requests=$((requests + ${samples[$key]}))
    done
    expect_values "$1" "$request_count" "$requests" \
        "$reply_count" \
        "$((${samples[$made]} + ${samples[$not_made]}))" \
        "$link_up" \
        "$((${samples[$connects_total]} - ${samples[$losses_total]}))"
}

# An exchange with the endpoint: the bytes on standard input are written, and what comes back
# until the endpoint closes (10 s at most) is printed as its status line, its headers, one a
# line, and "body: N bytes"; "closed unanswered" when nothing came.
exchange_py='
import socket, sys
with socket.create_connection((sys.argv[1], 9464), timeout=10) as s:
    try:
        s.sendall(sys.stdin.buffer.read())
    except OSError:
        pass  # closed before the whole request was taken: what came back says the rest
    answer = b""
    try:
        while data := s.recv(65536):
            answer += data
    except ConnectionResetError:
        pass
    except TimeoutError:
        sys.exit("not closed within 10 s")
if not answer:
    print("closed unanswered")
    sys.exit()
head, _, body = answer.partition(b"\r\n\r\n")
print(head.decode("latin-1").replace("\r\n", "\n"))
print(f"body: {len(body)} bytes")
'
# A client that connects and then sends nothing, half a request line, or a head a byte every
# 200 ms that never ends; "ready" once connected (and half sent), then how its connection ended
# within 10 s of the connect.
slow_client_py='
import select, socket, sys, time
mode, bound = sys.argv[1], 10
began = time.monotonic()
s = socket.create_connection(("127.0.0.1", 9464), timeout=bound)
if mode == "half":
    s.sendall(b"GET /metr")
trickle, sent = b"GET /metrics HTTP/1.1\r\nX-Slow: ", 0
print("ready", flush=True)
while (left := bound - (time.monotonic() - began)) > 0:
    if mode == "trickle":
        try:
            s.send(trickle[sent:sent + 1] if sent < len(trickle) else b"a")
            sent += 1
        except OSError:
            print("closed unanswered")
            sys.exit()
        left = min(left, 0.2)
    if select.select([s], [], [], left)[0]:
        try:
            data = s.recv(65536)
        except OSError:
            data = b""
        print("closed unanswered" if not data else f"answered: {data[:80]!r}")
        sys.exit()
print(f"still open {bound} s after the connect")
'
# A GET /health head of exactly the given size in bytes, padded with header lines of about
# 1000 bytes each (no single line comes near a limit of its own); written with \r and \n as
# the cases below are.
padded_head() { # size
    local head=$'GET /health HTTP/1.1\r\nHost: 127.0.0.1:9464\r\n' left size filler escaped='\r\n'
    left=$(($1 - ${#head} - 2))
    while [ "$left" -gt 0 ]; do
        size=$((left >= 2000 ? 1000 : left))
        printf -v filler '%*s' $((size - 9)) ''
        head+="X-Pad: ${filler// /a}"$'\r\n'
        left=$((left - size))
    done
    head+=$'\r\n'
    printf '%s' "${head//$'\r\n'/$escaped}"
}

# A query's one value from the Prometheus server (or what it gave instead).
prometheus_query() { # query
    curl -sS --max-time 5 -G --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query 2>&1 |
        jq -r '.data.result | if length == 1 then .[0].value[1] else "\(length) series" end' 2>&1 ||
        true
}
# Asks until the query gives the value, for at most 30 s. The server scrapes every second and
# tells nobody when a scrape is stored (nor when it is ready at first): there is no event to
# wait on, so its query API is polled.
prometheus_until() { # query, value
    local deadline=$((SECONDS + 30)) result
    while :; do
        result=$(prometheus_query "$1")
        [ "$result" != "$2" ] || return 0
        [ "$SECONDS" -lt "$deadline" ] || break
        sleep 0.2
    done
    fail "Prometheus: $1 is [$result], not $2 within 30 s; its targets: $(curl -sS --max-time 5 http://127.0.0.1:9090/api/v1/targets 2>&1)"
}

version=$("$bin/velmor_sndd" --version)
version=${version#velmor_sndd }

# --- Health with the link up, and every series there before any request.
gateway_options=(--reconnect 1 --allow 127.0.0.1 --metrics-listen 127.0.0.1:9464)
ipv6=
if ip -6 addr show dev lo 2>/dev/null | grep -q 'inet6 ::1/'; then
    ipv6=1
    gateway_options+=(--metrics-listen '[::1]:9464')
fi
start --code-by-room
idle_threads=$(threads)
expect_health 200 "$health_up" "with the link up"
[ -z "$ipv6" ] || expect_health 200 "$health_up" "over IPv6" -g 'http://[::1]:9464/health'
scrape
expect_values "before any request" "$made" 0 "$not_made" 0 "$unreadable" 0 "$link_down" 0 \
    "$not_sent" 0 "$last_made" 0 "$not_allowed" 0 "$over_limit" 0 \
    "$open_desks" 0 "$link_up" 1 "$connects_total" 1 \
    "$losses_total" 0 "velmor_snd_link_discarded_bytes_total{}" 0 \
    "velmor_snd_link_late_replies_total{}" 0 "$request_count" 0 \
    "$reply_count" 0 \
    "velmor_snd_build_info{program=\"velmor_sndd\",version=\"$version\"}" 1
for series in process_start_time_seconds process_resident_memory_bytes process_open_fds; do
    series+='{}'
    compare "${samples[$series]-0}" '>' 0 || fail "$series: ${samples[$series]-absent}"
done
started=${samples['process_start_time_seconds{}']}
expect_consistent "before any request"

# --- Keys made and not made, by the room's code (1001: 001 and 1002: 002, made; 1003: 003, not);
# a request that cannot be read; a front desk whose address is not allowed.
ask --room 1001
[ "$answer" == "$success" ] || fail "room 1001: $answer (status $status)"
ask --room 1002
[ "$answer" == "$success" ] || fail "room 1002: $answer (status $status)"
scrape
expect_values "two keys made" "$made" 2 "$not_made" 0
compare "${samples[$last_made]}" '>=' "$started" ||
    fail "last keys made at ${samples[$last_made]}, before the start at $started"
made_at=${samples[$last_made]}
ask --room 1003
[ "$answer" == "$(failure 003)" ] || fail "room 1003: $answer (status $status)"
ask --room 10A
[ "$status" -eq 2 ] || fail "an unreadable room: status $status, answer [$answer]"
ask --source 127.0.0.2 --room 1007
[ "$status" -eq 2 ] || fail "a front desk not allowed: status $status, answer [$answer]"
scrape
expect_values "made, not made, unreadable, refused" "$made" 2 "$not_made" 1 "$unreadable" 1 \
    "$link_down" 0 "$not_allowed" 1 "$over_limit" 0 "$last_made" "$made_at" \
    "$request_count" 4 "$reply_count" 3
expect_consistent "after the first requests"

# --- The stand-in stops: /health says why, a request fails for the link, the link counts its loss;
# back, the link counts its connect and /health is well again.
connects=${samples[$connects_total]}
stop_stand_in
wait_for_line "$work/gateway.err" "^velmor_sndd: lost the link to the lock system at 127.0.0.1:8264: " ||
    fail "no line for the lost link"
expect_health 503 "$health_down" "with the link down"
scrape
expect_values "the link down" "$link_up" 0
compare "${samples[$losses_total]}" '>=' 1 || fail "no link loss counted"
expect_consistent "the link down"
# The moment /health gives is the one the metrics give.
"$python" -c '
import datetime, sys
sys.exit(not 0 <= float(sys.argv[2]) - datetime.datetime.fromisoformat(sys.argv[1]).timestamp() < 0.001)' \
    "$since" "${samples[$link_changed]}" ||
    fail "/health says down since $since, the metrics since ${samples[$link_changed]}"
ask --room 1001
[ "$status" -eq 2 ] || fail "a request while the link is down: status $status, answer [$answer]"
scrape
expect_values "a request while the link is down" "$link_down" 1 "$made" 2
expect_consistent "a request while the link is down"

stand_in --code-by-room
expect_line 3 "locksim: connection 1 opened" "the link connected again"
wait_for_line "$work/gateway.err" "^velmor_sndd: connected to the lock system at 127.0.0.1:8264 again after " ||
    fail "no line for the link connected again"
expect_health 200 "$health_up" "with the link back"
ask --room 1001
[ "$answer" == "$success" ] || fail "room 1001 with the link back: $answer (status $status)"
scrape
expect_values "the link back" "$link_up" 1 "$made" 3
compare "${samples[$connects_total]}" '>' "$connects" || fail "the connect again was not counted"
[ "${samples[$last_made]}" != "$made_at" ] || fail "the last keys made did not move: $made_at"
expect_consistent "the link back"

# --- Requests byte for byte, each with the status and a header line (a regular expression) that
# must come back, or "closed" for none, and for some the body's size: HEAD without a body, other
# methods and paths refused, a head of 8192 bytes read and one of 8193 not. Every connection's
# thread ends with its exchange, whatever was left unread.
while IFS='|' read -r request want header size; do
    what="${request%%\\r*} (${#request} characters as written)"
    printf '%b' "$request" | "$python" -c "$exchange_py" 127.0.0.1 >"$work/exchange" ||
        fail "$what: no end to the exchange"
    if [ "$want" == closed ]; then
        [ "$(cat "$work/exchange")" == "closed unanswered" ] || fail "$what: answered: $(cat "$work/exchange")"
        continue
    fi
    grep -q "^HTTP/1\.1 $want " "$work/exchange" || fail "$what: $(cat "$work/exchange")"
    [ -z "$header" ] || grep -Eq "$header" "$work/exchange" || fail "$what: no [$header]: $(cat "$work/exchange")"
    [ -z "$size" ] || grep -qx "body: $size bytes" "$work/exchange" || fail "$what: body: $(cat "$work/exchange")"
done <<CASES
HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1:9464\r\n\r\n|200|^Content-Length: [1-9][0-9]*$|0
HEAD /health HTTP/1.1\r\nHost: 127.0.0.1:9464\r\n\r\n|200|^Content-Length: [1-9][0-9]*$|0
POST /metrics HTTP/1.1\r\nHost: 127.0.0.1:9464\r\nContent-Length: 4\r\n\r\nbody|405|^Allow: GET, HEAD$|
PUT /health HTTP/1.1\r\nHost: 127.0.0.1:9464\r\nContent-Length: 0\r\n\r\n|405|^Allow: GET, HEAD$|
GET /nothing HTTP/1.1\r\nHost: 127.0.0.1:9464\r\n\r\n|404||
$(padded_head 8192)|200|^Content-Length: [1-9][0-9]*$|
$(padded_head 8193)|closed||
CASES
expect_threads "$idle_threads" "after the requests not served"

# --- Slow clients are closed, unanswered, within a bound (their 5 s for a head), and while they
# are held a scrape and a key request are answered.
declare -A slow=()
for mode in nothing half trickle; do
    mkfifo "$work/slow-$mode"
    "$python" -c "$slow_client_py" "$mode" >"$work/slow-$mode" &
    exec {fd}<"$work/slow-$mode"
    slow[$mode]=$fd
    line=
    IFS= read -r -t 15 -u "$fd" line || true
    [ "$line" == ready ] || fail "slow client ($mode): [$line]"
done
scrape
expect_health 200 "$health_up" "with slow clients held"
ask --room 1001
[ "$answer" == "$success" ] || fail "a key request with slow clients held: $answer (status $status)"
for mode in "${!slow[@]}"; do
    IFS= read -r -t 15 -u "${slow[$mode]}" line || fail "slow client ($mode): no end"
    [ "$line" == "closed unanswered" ] || fail "slow client ($mode): $line"
    fd=${slow[$mode]}
    exec {fd}<&-
done
expect_threads "$idle_threads" "after the slow clients"
scrape
expect_values "after the slow clients" "$made" 4 "$not_sent" 0
expect_consistent "after the slow clients"

# --- A Prometheus server of its own, its settings and data in the scratch folder, scrapes the
# endpoint every second, and follows the keys made.
mkdir "$work/prometheus"
cat >"$work/prometheus/prometheus.yml" <<'YAML'
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: velmor_sndd
    static_configs:
      - targets: ["127.0.0.1:9464"]
YAML
prometheus --config.file="$work/prometheus/prometheus.yml" --storage.tsdb.path="$work/prometheus/data" \
    --web.listen-address=127.0.0.1:9090 >"$work/prometheus.log" 2>&1 &
prometheus=$!
prometheus_until 'up{job="velmor_sndd"}' 1
prometheus_until 'velmor_snd_key_requests_total{answer="made"}' 4
for room in 1001 1002; do
    ask --room "$room"
    [ "$answer" == "$success" ] || fail "room $room for Prometheus: $answer (status $status)"
done
prometheus_until 'velmor_snd_key_requests_total{answer="made"}' 6
kill -TERM "$prometheus"
wait_bounded "$prometheus" || fail "Prometheus did not stop in order: exit status $?"
stop

# --- Monitoring for 127.0.0.2 alone: a scrape from 127.0.0.1 is closed unanswered and logged, and
# counts no front desk. One front desk at most: a second is refused while one is held, and the
# held one is served.
gateway_options=(--max-connections 1 --metrics-listen 127.0.0.1:9464 --metrics-allow 127.0.0.2)
start --code 001
status=0
curl -sS --max-time 10 -o /dev/null "$endpoint/health" 2>/dev/null || status=$?
[ "$status" -ne 0 ] || fail "a scrape from an address not allowed was answered"
wait_for_line "$work/gateway.err" "^velmor_sndd: monitoring: refused a connection from 127\.0\.0\.1:[0-9]*: the address is not among those allowed$" ||
    fail "no line for the refused scrape"
expect_health 200 "$health_up" "from an allowed address" "$endpoint/health" --interface 127.0.0.2
exec 5<>/dev/tcp/127.0.0.1/3000
ask --room 1110
[ "$status" -eq 2 ] || fail "a second front desk: status $status, answer [$answer]"
scrape --interface 127.0.0.2
expect_values "one front desk held, one refused" "$over_limit" 1 "$not_allowed" 0 \
    "$open_desks" 1
request='<?xml version="1.0"?><keyrequest room="1110" folio="123456" encoder="1" key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00" to-date-time="2020-07-16 14:00:00"/>'
printf '%s' "$request" >&5
IFS= read -r -t 30 -u 5 line || fail "no answer on the held connection"
[ "${line%$'\r'}" == "$success" ] || fail "the held connection: $line"
exec 5>&-
stop
echo "PASS"
