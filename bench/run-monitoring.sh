#!/usr/bin/env bash
# What the monitoring endpoint costs a key request: one front desk asking back to back through
# velmor_sndd with the endpoint off, and on with a scrape of /metrics and /health every second,
# in turns, unpinned and with everything pinned to one core; keyload's figures for each turn.
# Usage: bench/run-monitoring.sh [BUILD_DIR] [ROUNDS] [REQUESTS]
#   (default build, 3 rounds, 20000 requests a turn; built here if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
# About 2 s of requests a turn: two scrapes fall within each.
requests=${3:-20000}

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    scripts/ensure-packages python3 util-linux
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target locksim velmor_sndd keyreq keyload >/dev/null
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

bin=$(cd "$build" && pwd)
work=$(mktemp -d)
cleanup() {
    [ -n "${scraper:-}" ] && kill "$scraper" 2>/dev/null && wait "$scraper" 2>/dev/null
    [ -n "${gateway:-}" ] && kill "$gateway" 2>/dev/null && wait "$gateway" 2>/dev/null
    [ -n "${locksim:-}" ] && kill "$locksim" 2>/dev/null && wait "$locksim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=bench/common.sh
source bench/common.sh

# turn ENDPOINT PIN: one measurement. ENDPOINT on or off; PIN a taskset prefix or nothing.
turn() {
    local endpoint=$1
    shift
    local pin=("$@") options=()
    [ "$endpoint" == on ] && options=(--metrics-listen 127.0.0.1:9464)
    launch_locksim "$bin" "$work" || { echo "locksim did not start" >&2; exit 1; }
    "${pin[@]}" "$bin/velmor_sndd" "${options[@]}" >/dev/null 2>"$work/gateway.err" &
    gateway=$!
    wait_until_answered "$bin" || { echo "gateway does not answer" >&2; cat "$work/gateway.err" >&2; exit 1; }
    if [ "$endpoint" == on ]; then
        # As Prometheus and an uptime monitor would: both pages every second, each bounded, from
        # one process, so that starting a client per scrape is not what is measured; for at most
        # 10 minutes.
        # It says when its first scrape is done: its own start is then over before the requests.
        rm -f "$work/scraper.out"
        mkfifo "$work/scraper.out"
        "${pin[@]}" python3 -c '
import sys, time, urllib.request
for round in range(600):
    for page in ("metrics", "health"):
        try:
            urllib.request.urlopen("http://127.0.0.1:9464/" + page, timeout=2).read()
        except Exception:
            pass
    if round == 0:
        print("ready", flush=True)
    time.sleep(1)
' >"$work/scraper.out" &
        scraper=$!
        exec 4<"$work/scraper.out"
        read -r -t 10 -u 4 _ || { echo "the scraper did not start" >&2; exit 1; }
    fi
    echo "-- endpoint $endpoint${pin[*]:+, pinned (${pin[*]})}"
    "${pin[@]}" "$bin/tools/keyload" load --clients 1 --requests "$requests"
    if [ -n "${scraper:-}" ]; then
        kill "$scraper" 2>/dev/null && wait "$scraper" 2>/dev/null || true
        scraper=
        exec 4<&-
    fi
    kill "$gateway" && wait "$gateway" || true
    gateway=
    kill "$locksim" && wait "$locksim" 2>/dev/null || true
    locksim=
    exec 3<&-
}

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
for round in $(seq "$rounds"); do
    echo "== round $round"
    turn off
    turn on
    turn off taskset -c 0
    turn on taskset -c 0
done
