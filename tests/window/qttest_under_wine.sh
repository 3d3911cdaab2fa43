#!/usr/bin/env bash
# Runs a Windows QtTest program under Wine on Qt's offscreen platform, with its report written
# to a file, which is then shown: under Wine, QtTest's output reaches a pipe unreliably. The
# platform goes on the command line: Qt for Windows was seen not to take QT_QPA_PLATFORM from
# Wine's environment. The exit status is the test's.
# Usage: qttest_under_wine.sh TEST.exe [QTTEST_ARGS...]
set -uo pipefail
report=$(mktemp --suffix=.txt)
trap 'rm -f "$report"' EXIT
WINEDEBUG=-all wine "$@" -platform offscreen -o "$report,txt" >/dev/null 2>&1
status=$?
cat "$report"
exit "$status"
