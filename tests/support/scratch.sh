# Sourced by the test scripts: a scratch folder in $work, and at exit the script's background
# jobs ended (and waited for) before the folder goes.
work=$(mktemp -d)
end_jobs_and_scratch() {
    local pids
    pids=$(jobs -p)
    # Jobs that have ended already make kill fail; that must not change the exit status.
    # shellcheck disable=SC2086 # one process id per word
    [ -z "$pids" ] || kill $pids 2>/dev/null || true
    { wait; } 2>/dev/null || true
    rm -rf "$work"
}
trap end_jobs_and_scratch EXIT
