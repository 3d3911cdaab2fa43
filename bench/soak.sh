#!/usr/bin/env bash
# A soak run: the gateway (velmor_sndd, or the operator window velmor_snd on Xvfb) and the
# lock-system stand-in on their fixed ports inside a private network namespace, front desks
# asking back to back for a chosen number of minutes, while
#   - the stand-in is restarted every RESTART seconds, its connections ended in turn with a
#     reset (locksim --reset-on-stop) and in order;
#   - the gateway's log file and key record are moved away and the gateway told to reopen them
#     (SIGHUP) every ROTATE seconds (the window only where it takes --log-file);
#   - keyload soak checks every answer against the stand-in's code for its room and samples the
#     gateway's resident memory, open descriptors and threads.
# Exits non-zero on any wrong answer, on key-record lines that do not match the requests sent
# and the answers given, or when the gateway does not last the run or stop cleanly.
#
# Usage: bench/soak.sh [options]
#   --program velmor_sndd|velmor_snd   the gateway to soak (default velmor_sndd)
#   --minutes M        how long the front desks ask (default 10)
#   --clients N        front desks, each on its own connection (default 8)
#   --pause MS         each front desk waits MS ms after an answer (default 0: back to back)
#   --restart-every S  seconds between restarts of the stand-in (default 20)
#   --rotate-every S   seconds between rotations of the gateway's files (default 45)
#   --sample-every S   seconds between samples of the gateway process (default 5)
#   --build DIR        build folder (default build; the programs are built there if needed)
#   --keep DIR         keep the run's files in DIR (default: a temporary folder, removed after
#                      a clean run, kept and named after a failed one); rotated files are
#                      counted and removed during the run either way
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/common.sh
source bench/common.sh

program=velmor_sndd
minutes=10
clients=8
restart_every=20
rotate_every=45
sample_every=5
pause=0
build=build
keep=
usage() {
    sed -n '/^# Usage:/,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
    --program) program=$2 ;;
    --minutes) minutes=$2 ;;
    --clients) clients=$2 ;;
    --restart-every) restart_every=$2 ;;
    --rotate-every) rotate_every=$2 ;;
    --sample-every) sample_every=$2 ;;
    --pause) pause=$2 ;;
    --build) build=$2 ;;
    --keep) keep=$2 ;;
    *) usage ;;
    esac
    shift 2
done
case "$program" in velmor_sndd | velmor_snd) ;; *) usage ;; esac
for number in "$minutes" "$clients" "$restart_every" "$rotate_every" "$sample_every"; do
    [[ "$number" =~ ^[1-9][0-9]*$ ]] || usage
done
[[ "$pause" =~ ^[0-9]+$ ]] || usage

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    window_build=()
    [ "$program" == velmor_snd ] && window_build=(-DVELMOR_BUILD_WINDOW=ON)
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${window_build[@]}" >/dev/null
    cmake --build "$build" -j2 --target locksim keyreq keyload "$program" >/dev/null
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" --program "$program" --minutes "$minutes" \
        --clients "$clients" --restart-every "$restart_every" --rotate-every "$rotate_every" \
        --sample-every "$sample_every" --pause "$pause" --build "$build" ${keep:+--keep "$keep"}
fi
ip link set lo up
ulimit -n 8192

bin=$(cd "$build" && pwd)
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    work=$(cd "$keep" && pwd)
else
    work=$(mktemp -d)
fi
pids=()
locksim=
gateway=
clean=false
cleanup() {
    [ -n "$gateway" ] && kill "$gateway" 2>/dev/null && wait "$gateway" 2>/dev/null
    [ -n "$locksim" ] && kill "$locksim" 2>/dev/null && wait "$locksim" 2>/dev/null
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
    done
    if $clean && [ -z "$keep" ]; then
        rm -rf "$work"
    else
        echo "soak: the run's files are in $work" >&2
    fi
}
trap cleanup EXIT
fail() {
    echo "soak: $*" >&2
    exit 1
}

# Polls for at most $1 seconds: the shell has no event to wait on for these.
wait_until() {
    local limit=$1 _
    shift
    for _ in $(seq $((limit * 20))); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

# The stand-in, answering with the code from the room; every second one resets its
# connections when stopped, the others end them in order.
instances=0
resets=0
orderly=0
start_locksim() {
    local how=()
    [ $((instances % 2)) -eq 1 ] && how=(--reset-on-stop)
    instances=$((instances + 1))
    "$bin/tools/locksim" --code-by-room --quiet "${how[@]}" >"$work/locksim.out" 2>&1 &
    locksim=$!
    wait_until 10 grep -q "listening" "$work/locksim.out" ||
        fail "locksim did not start: $(cat "$work/locksim.out")"
}
restart_locksim() {
    # instances counts the one running, which was started with --reset-on-stop when even.
    if [ $((instances % 2)) -eq 0 ]; then resets=$((resets + 1)); else orderly=$((orderly + 1)); fi
    kill -TERM "$locksim"
    local status=0
    wait "$locksim" || status=$?
    [ "$status" -eq 0 ] || fail "locksim ended with status $status on SIGTERM"
    locksim=
    start_locksim
}

# The gateway's files; rotated ones get a number. A rotated pair is counted and removed at the
# next rotation (at the end for the last one), when no write to it can still be under way: ten
# minutes of records and log lines take gigabytes.
log_file=$work/gateway.log
key_record=$work/keys.jsonl
rotations=0
records_all=0
records_made=0
records_not_made=0
records_none=0
losses_reset=0
losses_orderly=0
reopened=0
tally_record() { # KEY_RECORD: its lines added to the counts
    local all made not_made none
    [ -f "$1" ] || return 0
    read -r all made not_made none < <(awk '{ all++ } /"answer":"made"/ { made++ }
        /"answer":"not made"/ { not_made++ } /"answer":"none"/ { none++ }
        END { print all + 0, made + 0, not_made + 0, none + 0 }' "$1")
    records_all=$((records_all + all))
    records_made=$((records_made + made))
    records_not_made=$((records_not_made + not_made))
    records_none=$((records_none + none))
}
tally_log() { # LOG: the gateway's own lines on link losses and reopened files added up
    local reset closed reopen
    [ -f "$1" ] || return 0
    read -r reset closed reopen < <(awk '/lost the link/ && /reset by peer/ { reset++ }
        /lost the link/ && /Closed Gracefully/ { closed++ } /reopened the key record/ { reopen++ }
        END { print reset + 0, closed + 0, reopen + 0 }' "$1")
    losses_reset=$((losses_reset + reset))
    losses_orderly=$((losses_orderly + closed))
    reopened=$((reopened + reopen))
}
# Counts the pair of files rotated as number $1, then removes them.
tally_rotated() {
    tally_record "$key_record.$1"
    tally_log "$log_file.$1"
    rm -f "$key_record.$1" "$log_file.$1"
}
rotate() {
    rotations=$((rotations + 1))
    mv "$key_record" "$key_record.$rotations"
    if $log_to_file; then mv "$log_file" "$log_file.$rotations"; fi
    kill -HUP "$gateway"
    # Reopened: the files are there again.
    wait_until 5 test -f "$key_record" || fail "rotation $rotations: the key record was not reopened"
    if $log_to_file; then
        wait_until 5 test -f "$log_file" || fail "rotation $rotations: the log file was not reopened"
    fi
    if [ "$rotations" -gt 1 ]; then tally_rotated $((rotations - 1)); fi
}

start_locksim

rotating=true
log_to_file=true
if [ "$program" == velmor_sndd ]; then
    "$bin/velmor_sndd" --reconnect 1 --log-file "$log_file" --key-record "$key_record" \
        >"$work/gateway.out" 2>"$work/gateway.err" &
    gateway=$!
else
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_until 15 test -s "$work/display" || fail "no X server could be started (Xvfb)"
    DISPLAY=":$(head -1 "$work/display")"
    export DISPLAY
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_QPA_PLATFORM
    # Set to reconnect, as the stand-in goes away again and again.
    window_options=(--reconnect 1 --key-record "$key_record")
    # Rotation needs a window that reopens its files on SIGHUP, as one that takes --log-file
    # does; SIGHUP would end any other.
    if "$bin/velmor_snd" --help 2>/dev/null | grep -q -- "--log-file"; then
        window_options+=(--log-file "$log_file")
    else
        rotating=false
        log_to_file=false
    fi
    "$bin/velmor_snd" "${window_options[@]}" >"$work/gateway.out" 2>"$work/gateway.err" &
    gateway=$!
fi

wait_until_answered "$bin" || fail "$program does not answer: $(cat "$work/gateway.err")"
warm_up_requests=1 # the keyreq above, made: on record too

seconds=$((minutes * 60))
if $rotating; then
    rotation_text="its files rotated every $rotate_every s"
else
    rotation_text="no rotation (this window takes no --log-file, and SIGHUP would end it)"
fi
pace="back to back"
[ "$pause" -eq 0 ] || pace="each pausing $pause ms after an answer"
echo "== soak of $program: $clients clients ($pace) for $minutes min, the stand-in restarted every" \
    "$restart_every s, $rotation_text"
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
"$bin/tools/keyload" soak --clients "$clients" --seconds "$seconds" --pid "$gateway" \
    --sample-every "$sample_every" --pause "$pause" --timeout 60000 >"$work/keyload.out" 2>&1 &
keyload=$!
pids+=("$keyload")
started=$SECONDS
next_restart=$((started + restart_every))
next_rotation=$((started + rotate_every))
while kill -0 "$keyload" 2>/dev/null; do
    sleep 1
    kill -0 "$gateway" 2>/dev/null || fail "$program ended during the run: $(tail -5 "$work/gateway.err")"
    # Nothing more once the clients have stopped asking: the end of the run stays undisturbed.
    [ $((SECONDS - started)) -lt "$seconds" ] || continue
    if [ "$SECONDS" -ge "$next_restart" ]; then
        restart_locksim
        next_restart=$((next_restart + restart_every))
    fi
    if $rotating && [ "$SECONDS" -ge "$next_rotation" ]; then
        rotate
        next_rotation=$((next_rotation + rotate_every))
    fi
done
keyload_status=0
wait "$keyload" || keyload_status=$?
unset 'pids[-1]'
load_at_end=$(cut -d' ' -f1-3 /proc/loadavg)

# Every request read leaves its record once the gateway is done with it: counted after the stop.
stop_asked=$SECONDS
kill -TERM "$gateway"
gateway_status=0
wait "$gateway" || gateway_status=$?
gateway=
stop_seconds=$((SECONDS - stop_asked))

if [ "$rotations" -gt 0 ]; then tally_rotated "$rotations"; fi
tally_record "$key_record"
tally_log "$log_file"
tally_log "$work/gateway.err"
records_soak=$((records_all - warm_up_requests))

grep -v "^sample" "$work/keyload.out" | sed 's/^/keyload: /' || true
echo "== load average $load_at_end at the end"
number() { sed -n "s/$1/\1/p" "$work/keyload.out" | head -1; }
sent=$(number '^requests sent \([0-9]*\).*')
wrong=$(number '^wrong answers \([0-9]*\).*')
no_answer=$(number '^no answer \([0-9]*\).*')
send_failures=$(number '^send failures \([0-9]*\).*')
made=$(number '^answers .*: made \([0-9]*\),.*')
not_made=$(number '^answers .*not made \([0-9]*\),.*')
empty_code=$(number '^answers .*empty code \([0-9]*\),.*')
growth=$(number '^rss growth after warm-up \(-\{0,1\}[0-9.]*\) .*')
if [ -z "$sent" ] || [ -z "$wrong" ] || [ -z "$made" ] || [ -z "$send_failures" ]; then
    fail "keyload: $(cat "$work/keyload.out")"
fi

problems=()
[ "$keyload_status" -le 1 ] || problems+=("keyload ended with status $keyload_status")
[ "$wrong" -eq 0 ] || problems+=("$wrong wrong answers")
[ "$gateway_status" -eq 0 ] || problems+=("$program ended with status $gateway_status on SIGTERM")
# One record for every request read: a request whose send failed may not have been.
if [ "$records_soak" -lt "$sent" ] || [ "$records_soak" -gt $((sent + send_failures)) ]; then
    problems+=("$records_soak key-record lines for $sent requests sent")
fi
# The record says what the answer said.
[ "$records_made" -eq $((made + warm_up_requests)) ] ||
    problems+=("$records_made records of keys made for $made answers saying so (and the warm-up)")
[ "$records_not_made" -eq $((not_made + empty_code)) ] ||
    problems+=("$records_not_made records of keys not made for $((not_made + empty_code)) failure answers")

echo "== summary: $program, $minutes min, $clients clients ($pace); a shared machine ($(nproc) cores, other builds running)"
echo "requests sent               $sent"
echo "answers                     made $made, not made (the room's code) $not_made, failure with an empty code $empty_code"
echo "no answer                   $no_answer (the connection ended; made anew)"
echo "wrong answers               $wrong"
if $log_to_file; then
    losses="the gateway logged $losses_reset link losses by reset, $losses_orderly by an orderly close"
else
    losses="the window logs link losses to its pane alone"
fi
echo "stand-in restarts           $((resets + orderly)): $resets with a reset, $orderly in order ($losses)"
if $rotating; then
    echo "rotations                   $rotations (the gateway said it reopened the key record $reopened times)"
else
    echo "rotations                   none: this window takes no --log-file, and SIGHUP would end it"
fi
echo "key-record lines            $records_soak for $sent requests sent, over $((rotations + 1)) files" \
    "(made $records_made, not made $records_not_made, none $records_none; the warm-up request besides)"
sed -n 's/^rss at warm-up /rss                         warm-up /p' "$work/keyload.out"
if [ -n "$growth" ]; then
    echo "growth after warm-up        $growth KiB per 10000 requests (target under 100:" \
        "$(awk -v g="$growth" 'BEGIN { print (g < 100 ? "met" : "missed") }'))"
else
    echo "growth after warm-up        not measured: the run ended before the warm-up did"
fi
sed -n 's/^gateway before: \(.*\)/before the run              \1/p; s/^gateway after: \(.*\)/after the run               \1/p' \
    "$work/keyload.out"
echo "stopped on SIGTERM           in $stop_seconds s, exit status $gateway_status"
awk '/^sample/ { if ($12 > threads) threads = $12; if ($10 > descriptors) descriptors = $10 }
    END { printf "highest sampled             descriptors %d  threads %d (restarts make connections churn)\n",
        descriptors, threads }' "$work/keyload.out"
if [ ${#problems[@]} -gt 0 ]; then
    printf 'soak: FAILED: %s\n' "${problems[@]}" >&2
    exit 1
fi
clean=true
echo "soak: passed"
