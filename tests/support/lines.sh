# shellcheck shell=bash
# Sourced by the end-to-end scripts, after they define fail: waiting for the programs' lines.
# line_wait, when the script sets it, is how many seconds a line on a pipe is waited for.

# Reads one line from fd; it must equal the text.
expect_line() { # fd, expected text, what
    local line
    IFS= read -r -t "${line_wait:-30}" -u "$1" line || fail "no line for $3"
    [ "$line" == "$2" ] || fail "$3: got [$line], expected [$2]"
}
# Polls a file for a line matching the pattern, for at most 10 s; a file has no event to wait
# on. False when none came.
wait_for_line() { # file, pattern
    local _
    for _ in $(seq 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}
