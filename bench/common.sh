# shellcheck shell=bash
# What the bench scripts share, sourced by them: the lock-system stand-in started and the
# gateway waited for, on the fixed ports of the private network namespace they run in.

# launch_locksim BIN WORK [OPTIONS...]: locksim --code-by-room --quiet with the options, its
# process in $locksim once it says it listens (within 10 s); false when it does not.
launch_locksim() {
    local bin=$1 work=$2 line
    shift 2
    rm -f "$work/locksim.out"
    mkfifo "$work/locksim.out"
    "$bin/tools/locksim" --code-by-room --quiet "$@" >"$work/locksim.out" &
    # shellcheck disable=SC2034 # the caller stops it
    locksim=$!
    exec 3<"$work/locksim.out"
    IFS= read -r -t 10 -u 3 line && [[ "$line" == *listening* ]]
}

# wait_until_answered BIN: true once a key request gets an answer (keyreq exits 0 or 1, not
# "no answer"), which it does once the gateway's link is up; at most about 10 s.
wait_until_answered() {
    local status
    for _ in $(seq 100); do
        status=0
        "$1/tools/keyreq" --room 1001 --timeout 2000 >/dev/null 2>&1 || status=$?
        [ "$status" -le 1 ] && return 0
        sleep 0.1
    done
    return 1
}
