#!/usr/bin/env bash
# One front desk asking back to back (keyload --clients 1), on three roads to the lock system
# (locksim --code-by-room --quiet on 8264), in one run:
#   gateway  front desk -> velmor_sndd (3000) -> lock system
#   relay    the same encoder lines -> socat (8265), a relay that does no work -> lock system
#   direct   the same encoder lines straight to the lock system
# Every road runs unpinned and with every process on core 0 (taskset), in interleaved rounds;
# printed are the medians over the rounds, the p50 ratios gateway/relay and gateway/direct (of
# the medians and of the lowest p50 of the rounds),
# the context switches per request of the gateway and the relay (read from /proc around the timed
# runs) and their system calls per request (strace -f -c, in runs of their own, never timed).
# All of it on the fixed ports inside a private network namespace. Not part of ./test or CTest.
#
# Usage: bench/run-relay.sh [options]
#   --build DIR          build folder (default build; the four programs are built there)
#   --requests N         requests of each timed run (default 4000)
#   --rounds R           rounds; each runs every road unpinned and pinned (default 7)
#   --strace-requests N  requests of each strace run (default 2000)
# Exit status: 0 done, 1 a road had mismatches or failures (or a step did not finish in time),
# 2 bad command line.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '/^# Usage:/,/^# 2 bad/s/^# \{0,1\}//p' "$0"; }
build=build
requests=4000
rounds=7
strace_requests=2000
while [ $# -gt 0 ]; do
    case "$1" in
    --build | --requests | --rounds | --strace-requests)
        [ $# -ge 2 ] || { echo "run-relay.sh: $1 needs a value" >&2; exit 2; }
        case "$1" in
        --build) build=$2 ;;
        --requests) requests=$2 ;;
        --rounds) rounds=$2 ;;
        --strace-requests) strace_requests=$2 ;;
        esac
        shift 2
        ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run-relay.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done
for number in "$requests" "$rounds" "$strace_requests"; do
    [[ "$number" =~ ^[1-9][0-9]{0,6}$ ]] || {
        echo "run-relay.sh: '$number' is not a count from 1 to 9999999" >&2
        exit 2
    }
done

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    scripts/ensure-packages socat strace
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j2 --target locksim velmor_sndd keyreq keyload >/dev/null
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" --build "$build" --requests "$requests" \
        --rounds "$rounds" --strace-requests "$strace_requests"
fi
ip link set lo up

bin=$(cd "$build" && pwd)
relay_port=8265
all_cores=$(taskset -cp $$ | sed 's/.*: *//')
work=$(mktemp -d)

# Waits (at most 5 s) until a condition holds; false if it never does.
wait_until() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}
# A child of this script that has ended (a zombie until it is waited for) or is gone.
ended() {
    local state
    state=$(ps -o stat= -p "$1") || return 0
    [[ "$state" == Z* ]]
}
# Ends one process this script started: SIGTERM (or the signal given), then SIGKILL after 5 s.
stop() {
    local pid=$1 signal=${2:-TERM}
    [ -n "$pid" ] || return 0
    kill -"$signal" "$pid" 2>/dev/null || true
    wait_until ended "$pid" || kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    stop "${tracer:-}" INT
    if [ -n "${relay:-}" ]; then
        # The relay's children, one a connection, end with their connections; stopped anyway.
        for child in $(pgrep -P "$relay" || true); do kill "$child" 2>/dev/null || true; done
        stop "$relay"
    fi
    stop "${gateway:-}"
    stop "${locksim:-}"
    rm -rf "$work"
}
trap cleanup EXIT

task_count() { find "/proc/$1/task" -mindepth 1 -maxdepth 1 | wc -l; }
gateway_at_rest() { [ "$(task_count "$gateway")" -le "$gateway_tasks" ]; }
relay_at_rest() { [ -z "$(pgrep -P "$relay" || true)" ]; }
listening() { [ -n "$(ss -Hltn "sport = :$1")" ]; }

# shellcheck source=bench/common.sh
source bench/common.sh
launch_locksim "$bin" "$work" || { echo "locksim did not start" >&2; exit 1; }

"$bin/velmor_sndd" >/dev/null 2>"$work/gateway.err" &
gateway=$!
wait_until_answered "$bin" || { echo "gateway does not answer" >&2; cat "$work/gateway.err" >&2; exit 1; }
# The threads of the gateway at rest: keyreq's connection thread ends after its answer.
gateway_tasks=$(task_count "$gateway")
for _ in $(seq 20); do
    sleep 0.05
    now=$(task_count "$gateway")
    if [ "$now" -lt "$gateway_tasks" ]; then gateway_tasks=$now; fi
done

socat "TCP-LISTEN:$relay_port,bind=127.0.0.1,fork,reuseaddr,nodelay" \
    TCP:127.0.0.1:8264,nodelay 2>"$work/relay.err" &
relay=$!
wait_until listening "$relay_port" || { echo "socat does not listen" >&2; exit 1; }

# keyload's road and options for each of ours; the pid is the process in the middle.
road_args() {
    case "$1" in
    gateway) echo "--only gateway --pid $gateway" ;;
    relay) echo "--only direct --lock-port $relay_port --pid $relay" ;;
    direct) echo "--only direct" ;;
    esac
}
pin() { for pid in "$gateway" "$relay" "$locksim"; do taskset -a -p -c "$1" "$pid" >/dev/null; done; }

failed=0
# One timed run: road, cores ("unpinned" or "core0"), requests; appends its figures to
# $work/figures as "road cores req/s p50 p99 switches-per-request".
timed_run() {
    local road=$1 cores=$2 count=$3 out="$work/run.out" status=0 prefix=()
    # The previous run's connection is served by nobody any more, so no thread or process that
    # is counted ends during this one.
    wait_until gateway_at_rest || echo "note: the gateway still has connection threads" >&2
    wait_until relay_at_rest || echo "note: the relay still has a child" >&2
    if [ "$cores" = core0 ]; then prefix=(taskset -c 0); fi
    # shellcheck disable=SC2046
    timeout 300 "${prefix[@]}" "$bin/tools/keyload" load --clients 1 --requests "$count" \
        --timeout 5000 $(road_args "$road") >"$out" 2>&1 || status=$?
    local name=$road
    if [ "$road" = relay ]; then name=direct; fi
    local row
    row=$(awk -v name="$name" '$1 == name { print $4, $5, $6, $8, $9 }' "$out")
    local switches
    switches=$(awk '$1 == "switches" { print $(NF - 2) }' "$out")
    read -r rate p50 p99 mismatches failures <<<"${row:-- - - - -}"
    printf '%-8s %-9s %9s req/s  p50 %7s ms  p99 %7s ms  switches/req %5s  mismatches %s  failures %s\n' \
        "$road" "$cores" "$rate" "$p50" "$p99" "${switches:--}" "$mismatches" "$failures"
    if [ "$status" -ne 0 ] || [ -z "$row" ] || [ "$mismatches" != 0 ] || [ "$failures" != 0 ]; then
        echo "FAILED: $road $cores (keyload exit $status)" >&2
        cat "$out" >&2
        failed=1
        return 0
    fi
    echo "$road $cores $rate $p50 $p99 ${switches:--}" >>"$work/figures"
}

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "== load: $(uptime | sed 's/.*load average/load average/')"
echo "== one front desk back to back, $requests requests a run, $rounds rounds"
echo "== warm-up (not counted)"
for road in gateway relay direct; do
    timed_run "$road" unpinned 500
done
: >"$work/figures"
roads=(gateway relay direct)
for round in $(seq "$rounds"); do
    echo "== round $round"
    # The order of the roads turns each round, and pinned and unpinned alternate in leading.
    shift_by=$(((round - 1) % 3))
    order=("${roads[@]:shift_by}" "${roads[@]:0:shift_by}")
    modes=(unpinned core0)
    if [ $((round % 2)) -eq 0 ]; then modes=(core0 unpinned); fi
    for cores in "${modes[@]}"; do
        if [ "$cores" = core0 ]; then pin 0; fi
        for road in "${order[@]}"; do
            timed_run "$road" "$cores" "$requests"
        done
        if [ "$cores" = core0 ]; then pin "$all_cores"; fi
    done
done

# System calls of the process in the middle over a run of its own under strace.
strace_run() {
    local road=$1 pid=$2 out="$work/strace-$1.txt" status=0
    strace -f -c -S calls -o "$out" -p "$pid" 2>"$work/strace.err" &
    tracer=$!
    traced() {
        local task
        for task in /proc/"$pid"/task/*/status; do
            [ "$(awk '$1 == "TracerPid:" { print $2 }' "$task")" != 0 ] || return 1
        done
    }
    wait_until traced || { echo "strace did not attach to $road" >&2; failed=1; }
    # shellcheck disable=SC2046
    timeout 300 "$bin/tools/keyload" load --clients 1 --requests "$strace_requests" \
        --timeout 5000 $(road_args "$road" | sed 's/ --pid [0-9]*//') >"$work/run.out" 2>&1 ||
        status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAILED: $road under strace (keyload exit $status)" >&2
        cat "$work/run.out" >&2
        failed=1
    fi
    # The connection's end is part of its cost: traced until it is served no more.
    wait_until gateway_at_rest || true
    wait_until relay_at_rest || true
    stop "$tracer" INT
    tracer=
    awk -v road="$road" -v n="$strace_requests" '
        /^-----/ { section++; next }
        # The errors column is there only for a call that failed at times.
        section == 1 { calls[$NF] = $4; errors[$NF] = NF == 6 ? $5 : 0; names[++count] = $NF }
        section == 2 { total = $4 }
        END {
            printf "%-8s %6.2f per request:", road, total / n
            separator = ""
            for (i = 1; i <= count && i <= 8; i++) {
                printf "%s %s %.2f", separator, names[i], calls[names[i]] / n
                separator = ","
                if (errors[names[i]] > 0) printf " (%.2f failed)", errors[names[i]] / n
            }
            printf "\n"
        }' "$out"
}
echo "== system calls per request (strace -f -c over $strace_requests requests, unpinned, not timed)"
strace_run gateway "$gateway"
strace_run relay "$relay"

median() {
    sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
column_of() {
    awk -v road="$1" -v cores="$2" -v col="$3" '$1 == road && $2 == cores && $col != "-" { print $col }' "$work/figures"
}
# A figure with the given decimals, or "-" for none.
decimals() { awk -v d="$1" '{ if ($1 == "-") print "-"; else printf "%.*f\n", d, $1 }'; }
range_of() { column_of "$@" | sort -g | sed -n '1p;$p' | paste -sd- -; }

echo "== medians over $rounds rounds of $requests requests (p50 range over the rounds)"
printf '%-8s %-9s %9s %8s %15s %8s %13s\n' road cores req/s "p50 ms" "p50 range" "p99 ms" switches/req
for cores in unpinned core0; do
    for road in gateway relay direct; do
        printf '%-8s %-9s %9s %8s %15s %8s %13s\n' "$road" "$cores" \
            "$(column_of "$road" "$cores" 3 | median | decimals 0)" \
            "$(column_of "$road" "$cores" 4 | median | decimals 3)" \
            "$(range_of "$road" "$cores" 4)" \
            "$(column_of "$road" "$cores" 5 | median | decimals 3)" \
            "$(column_of "$road" "$cores" 6 | median | decimals 2)"
    done
done
lowest() { sort -g | head -n 1; }
# The lowest p50 of the rounds is the run that the machine's other work disturbed least; the
# unpinned runs are bimodal on a shared machine (see BENCHMARKS.md), so both are shown.
echo "== p50 ratios, of the medians and of the lowest p50 over the rounds"
for statistic in median lowest; do
    for cores in unpinned core0; do
        gateway_p50=$(column_of gateway "$cores" 4 | "$statistic")
        relay_p50=$(column_of relay "$cores" 4 | "$statistic")
        direct_p50=$(column_of direct "$cores" 4 | "$statistic")
        awk -v s="$statistic" -v c="$cores" -v g="$gateway_p50" -v r="$relay_p50" -v d="$direct_p50" 'BEGIN {
            if (r > 0 && d > 0) printf "%-7s %-9s gateway/relay %.2fx  gateway/direct %.2fx  relay/direct %.2fx\n", s, c, g / r, g / d, r / d
        }'
    done
done
echo "== load: $(uptime | sed 's/.*load average/load average/')"

if [ "$failed" -ne 0 ]; then
    echo "run-relay.sh: a road had mismatches or failures, or a step did not finish (above)" >&2
    exit 1
fi
