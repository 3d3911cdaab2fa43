#!/usr/bin/env bash
# The service unit as systemd reads it: systemd-analyze verify finds no fault in it, with its
# ExecStart pointed at the built program (verify checks that it exists and can be run).
# Usage: verify_unit.sh UNIT_TEMPLATE VELMOR_SNDD
set -euo pipefail
template=$1
program=$(realpath "$2")
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e "s|@VELMOR_SNDD_PROGRAM@|$program|" -e "s|@VELMOR_SND_SETTINGS@|$work/velmor_snd.conf|" \
    "$template" >"$work/velmor_sndd.service"
# The manual page is checked where it is installed, not here.
if ! systemd-analyze verify --man=no "$work/velmor_sndd.service" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    echo "FAIL: systemd-analyze verify"
    exit 1
fi
# Anything it says about the unit is a fault too (it exits 0 for some warnings).
if grep -q "velmor_sndd.service" "$work/verify.log"; then
    cat "$work/verify.log" >&2
    echo "FAIL: systemd-analyze has remarks on the unit"
    exit 1
fi
echo "PASS"
