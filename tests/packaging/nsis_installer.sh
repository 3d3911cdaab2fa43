#!/usr/bin/env bash
# The Windows installer as an administrator runs it, under Wine in a Wine prefix of its own:
# cpack makes it from the Windows build; installed silently into a chosen folder it leaves the
# programs (needing no DLL but Windows' own), the Start-menu entry and the uninstaller registered
# in Add/Remove Programs; the installed programs tell the version; with /SERVICE the service is
# registered and runs without anyone starting it; installed again over itself it first removes
# the installation before it, and registers and starts again the service that one had;
# uninstalled silently it leaves nothing, the service included.
#
# Wine cannot show, and a Windows machine must: the installer's pages (only silent runs here; the
# components page offers the service), Windows' elevation prompt (Wine's user is an
# administrator), the Start-menu entry and its icon as Explorer shows them, the entry in the list
# of installed programs, an upgrade while velmor_sndd.exe runs as a service (Windows keeps a
# running program's file in use). The service itself is tried under Wine's service manager by
# tests/service/windows_service.sh.
# Usage: nsis_installer.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
for tool in cpack makensis wine wineserver x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
# A prefix of its own: the installer writes the registry and may register a service, which must
# not reach the prefix the other tests share.
export WINEPREFIX=$work/wine WINEDEBUG=-all
# No offer to download Wine's .NET and HTML engines while the prefix is made: nothing here uses
# them, and the offer is a dialog that would wait for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Runs a Windows program; its own output only (Wine's helper processes write elsewhere).
win() { wine "$@" </dev/null 2>>"$work/wine.log"; }
# Waits for every Windows process of the prefix to end: the uninstaller runs on from a copy of
# itself after the one started has returned.
settle() { timeout 120 wineserver -w || fail "Wine processes did not end"; }

# --- The installer, made into a folder of its own.
started=$SECONDS
cpack --config "$build/CPackConfig.cmake" -G NSIS -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G NSIS"; }
echo "cpack -G NSIS: $((SECONDS - started)) s"
installer=$work/out/velmor-snd-${version}-win64.exe
[ -f "$installer" ] || fail "no $(basename "$installer"); made: $(cd "$work/out" && ls ./*.exe)"

started=$SECONDS
wineboot -i >/dev/null 2>&1
settle
echo "Wine prefix: $((SECONDS - started)) s"

folder='C:\velmor_snd_test'
unix_folder=$WINEPREFIX/drive_c/velmor_snd_test
# Wine ends a service with its session, that is with the last program of the prefix, and starts
# every service set to start with Windows as the next session begins: whether the installer
# started the service shows only within the session it ran in. A command prompt reading a pipe
# holds the session until the pipe is closed.
holder=
hold_session() {
    mkfifo "$work/hold"
    wine cmd <"$work/hold" >/dev/null 2>>"$work/wine.log" &
    holder=$!
    exec 9>"$work/hold"
}
end_session() {
    exec 9>&-
    wait "$holder" || true
    holder=
    settle
}
# /D= comes last and unquoted, so the folder has no blank.
install() { # extra installer options
    local status=0
    win "$installer" /S "$@" "/D=$folder" || status=$?
    # What the folder holds tells how far it came (the old uninstaller's run, or the new files);
    # Wine's own messages tell whether it was Wine.
    if [ "$status" -ne 0 ]; then
        tail -20 "$work/wine.log" >&2
        fail "installer $*: exit status $status; the folder holds: $(ls "$unix_folder" 2>&1 | tr '\n' ' ')"
    fi
    # The installer has ended when it returns (it runs the old uninstaller in place): a session
    # held stays.
    [ -n "$holder" ] || settle
}
expected_files=(Uninstall.exe keyreq.exe locksim.exe velmor_snd.exe velmor_sndd.exe)
check_installed() { # what
    local files
    files=$(cd "$unix_folder" && ls) || fail "$1: no installation folder"
    [ "$files" == "$(printf '%s\n' "${expected_files[@]}")" ] ||
        fail "$1: installed files: ${files//$'\n'/ }, expected ${expected_files[*]}"
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velmor_snd'
# The registry view the installer wrote its uninstall key in (32 or 64), and a value of it.
registry_view() {
    local view
    for view in 32 64; do
        win reg query "$uninstall_key" "/reg:$view" >/dev/null 2>&1 && { echo "$view"; return 0; }
    done
    return 1
}
registered() { # value name
    local view line
    view=$(registry_view) || return 1
    line=$(win reg query "$uninstall_key" /v "$1" "/reg:$view" 2>/dev/null | tr -d '\r' |
        grep -E "^ +$1 +REG_") || return 1
    sed -E 's/^ +[^ ]+ +REG_[A-Z_]+ +//' <<<"$line"
}
# The services whose program is velmor_sndd.exe, from the registry.
velmor_services() {
    win reg export 'HKLM\System\CurrentControlSet\Services' "C:\\services.reg" /y >/dev/null 2>&1 || true
    iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/services.reg" 2>/dev/null | tr -d '\r' |
        grep -ci 'velmor_sndd\.exe' || true
}

# --- Installed: the programs, the Start-menu entry, the uninstaller in Add/Remove Programs.
started=$SECONDS
install
echo "silent install: $((SECONDS - started)) s"
check_installed "install"
start_menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/velmor_snd' -type d | head -1)
[ -n "$start_menu" ] || fail "no Start-menu folder velmor_snd"
for link in velmor_snd.lnk Uninstall.lnk; do
    [ -f "$start_menu/$link" ] || fail "no Start-menu entry $link"
done
# The entry starts the installed program, whose file carries the icon the entry shows.
{ strings -a -el "$start_menu/velmor_snd.lnk"; strings -a "$start_menu/velmor_snd.lnk"; } |
    grep -qi 'velmor_snd_test\\velmor_snd\.exe' || fail "the Start-menu entry does not start velmor_snd.exe"
x86_64-w64-mingw32-objdump -h "$unix_folder/velmor_snd.exe" 2>/dev/null | grep -q '\.rsrc' ||
    fail "velmor_snd.exe carries no resources (icon)"
[ "$(registered DisplayVersion)" == "$version" ] || fail "DisplayVersion: $(registered DisplayVersion || true)"
[ "$(registered UninstallString)" == "\"$folder\\Uninstall.exe\"" ] ||
    fail "UninstallString: $(registered UninstallString || true)"
[ "$(registered DisplayIcon)" == "$folder\\velmor_snd.exe" ] || fail "DisplayIcon: $(registered DisplayIcon || true)"

# --- Every DLL the installed programs import is Windows' own: the Windows build links Qt (its
# plugins included), libxml2 and the compiler's libraries statically, so none has to be installed
# beside them. Wine's system folder stands in for Windows' own.
system32=$WINEPREFIX/drive_c/windows/system32
for program in "$unix_folder"/*.exe; do
    [ "$(basename "$program")" == Uninstall.exe ] && continue
    while read -r dll; do
        # API sets (api-ms-win-*) name no file: Windows' loader maps them to its own DLLs.
        [[ "${dll,,}" == api-ms-win-* ]] && continue
        [ -n "$(find "$system32" -maxdepth 1 -iname "$dll" -print -quit)" ] ||
            fail "$(basename "$program") needs $dll, which Windows does not have and the installer does not install"
    done < <(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\tDLL Name: //p')
done

# --- The installed programs tell the installer's version.
for program in velmor_sndd locksim keyreq; do
    shown=$(win "$folder\\$program.exe" --version | tr -d '\r') || fail "$program.exe --version: exit status $?"
    [ "$shown" == "$program $version" ] || fail "$program.exe --version: $shown"
done

# --- The service: chosen on the command line it is registered with its options, and runs without
# anyone starting it. One option without a blank: Wine would quote a word with blanks whole
# ("/SERVICE=a b"), which a command line typed at a prompt never does. Port 8264 for its link is
# the end-to-end test's stand-in's, hence the test's lock on the fixed ports.
[ "$(velmor_services)" -eq 0 ] || fail "a velmor_sndd service before any was asked for"
service_options='--port=3101'
hold_session
install "/SERVICE=$service_options"
[ "$(velmor_services)" -ge 1 ] || fail "/SERVICE registered no velmor_sndd service"
service_command() {
    win reg query 'HKLM\System\CurrentControlSet\Services\velmor_sndd' /v ImagePath | tr -d '\r' |
        sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p'
}
[[ "$(service_command)" == *"velmor_sndd.exe"*" --service $service_options" ]] ||
    fail "the service's command line: $(service_command)"
service_state() { win sc query velmor_sndd | tr -d '\r' | sed -n 's/^ *STATE *: [0-9]* *//p'; }
# The service manager has no state change to wait on from outside: asked for, at most 30 s.
running_within_30s() {
    local _
    for _ in $(seq 150); do
        [ "$(service_state)" == RUNNING ] && return 0
        sleep 0.2
    done
    return 1
}
running_within_30s || fail "/SERVICE did not start the service: $(service_state)"

# --- Installed again over itself: the installation before it is removed first (its uninstaller
# runs, which deletes the whole uninstall key, a value only the old one had with it, every file
# it installed, and the service), a file of the administrator's stays, and the service the old
# one had comes back with its options and runs again.
view=$(registry_view)
win reg add "$uninstall_key" /v OldVersionOnly /d stale /f "/reg:$view" >/dev/null
registered OldVersionOnly >/dev/null || fail "could not mark the installation"
echo "kept" >"$unix_folder/administrator-notes.txt"
started=$SECONDS
install
echo "silent install over an installation: $((SECONDS - started)) s"
! registered OldVersionOnly >/dev/null || fail "the installation before was not uninstalled first"
expected_files=(Uninstall.exe administrator-notes.txt keyreq.exe locksim.exe velmor_snd.exe velmor_sndd.exe)
check_installed "install over an installation"
# The service the installation before had is there again, with its options, and running again.
[ "$(velmor_services)" -eq 1 ] || fail "the install over the installation has $(velmor_services) velmor_sndd services"
[[ "$(service_command)" == *"velmor_sndd.exe"*" --service $service_options" ]] ||
    fail "the service's command line after the install over it: $(service_command)"
running_within_30s || fail "the service was not started again: $(service_state)"
rm "$unix_folder/administrator-notes.txt"

# --- Uninstalled silently with the uninstaller Add/Remove Programs starts: files, Start-menu
# entries and key are gone.
started=$SECONDS
status=0
win "$folder\\Uninstall.exe" /S || status=$?
[ "$status" -eq 0 ] || fail "uninstaller: exit status $status"
# It runs on from a copy of itself: done once the session has ended.
end_session
echo "silent uninstall: $((SECONDS - started)) s"
[ ! -e "$unix_folder" ] || fail "left behind: $(find "$unix_folder" -mindepth 1 -printf '%P ')"
[ ! -e "$start_menu" ] || fail "Start-menu folder left behind"
! registered DisplayVersion >/dev/null || fail "the uninstall key is left behind"
[ "$(velmor_services)" -eq 0 ] || fail "the service is left registered"
echo "PASS"
