#!/usr/bin/env bash
# The load figures of BENCHMARKS.md: locksim (code from the room, quiet) and velmor_sndd on
# their fixed ports inside a private network namespace, then keyload:
#   16 clients (throughput and latency, gateway against direct), 1 client (the gateway's own
#   cost with nothing queued), 32 clients (mismatches),
#   200 idle connections for 10 s (gateway CPU and RSS), 1000 open connections (RSS).
# Usage: bench/run-load.sh [BUILD_DIR]   (default build; built here if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target locksim velmor_sndd keyreq keyload >/dev/null
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
# 1000 connections take 1000 descriptors in the gateway and as many in keyload.
ulimit -n 8192

bin=$(cd "$build" && pwd)
work=$(mktemp -d)
cleanup() {
    [ -n "${gateway:-}" ] && kill "$gateway" 2>/dev/null && wait "$gateway" 2>/dev/null
    [ -n "${locksim:-}" ] && kill "$locksim" 2>/dev/null && wait "$locksim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=bench/common.sh
source bench/common.sh
launch_locksim "$bin" "$work" || { echo "locksim did not start" >&2; exit 1; }

"$bin/velmor_sndd" >/dev/null 2>"$work/gateway.err" &
gateway=$!
wait_until_answered "$bin" || { echo "gateway does not answer" >&2; cat "$work/gateway.err" >&2; exit 1; }

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "== 16 clients: throughput and latency"
"$bin/tools/keyload" load --clients 16 --requests 500
echo "== 1 client: the gateway's own cost, nothing queued"
"$bin/tools/keyload" load --clients 1 --requests 4000
echo "== 32 clients: mismatches"
"$bin/tools/keyload" load --clients 32 --requests 200
echo "== 200 idle connections, 10 s: CPU and RSS"
"$bin/tools/keyload" idle --pid "$gateway" --connections 200 --seconds 10 --request-first
echo "== 1000 open connections: RSS"
"$bin/tools/keyload" idle --pid "$gateway" --connections 1000 --seconds 2 --request-first
