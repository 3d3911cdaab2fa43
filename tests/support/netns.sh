# Sourced first, as `. netns.sh "$@"`, by a test script that runs the real programs on their fixed
# ports: the script runs again inside a private network namespace with its loopback up, so the
# ports and 127.0.0.2 meet nothing else on the machine; where none can be made, it is skipped.
if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    if ! unshare -n true 2>/dev/null; then
        echo "SKIP: cannot make a private network namespace here (needs root)"
        exit 77
    fi
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
