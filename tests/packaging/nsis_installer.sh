#!/usr/bin/env bash
# The Windows installer as an administrator runs it, under Wine in a Wine prefix of its own:
# cpack makes it from the Windows build. Values the programs refuse (/LINKPORT=, /ALLOW=,
# /SERVICE=) end it with exit status 2 before anything is installed, also over an installation.
# Installed silently into a chosen folder it leaves the programs (needing no DLL but Windows'
# own), the Start-menu entry, the uninstaller registered in Add/Remove Programs and the settings
# file where the programs read it: every setting commented out when no value is given, the lock
# system's address and the front desks served when given. The installed programs tell the
# version. With /SERVICE the service is registered and runs without anyone starting it, and a
# key request through it reaches the lock system at the address given; so does velmor_snd.exe,
# started from its Start-menu entry on an X server of the test's own. Installed again over
# itself it first removes the installation before it, keeps the settings file the administrator
# changed, and registers and starts again the service that one had. Every install registers
# velmor_sndd's event source in the Application log, with the installed velmor_sndd.exe for its
# messages. Uninstalled silently it leaves nothing, the service and the event source included,
# but a settings file the administrator changed.
#
# Wine cannot show, and a Windows machine must: the installer's pages (only silent runs here; the
# components page offers the service, the lock system's page asks for its address and refuses
# what velmor_sndd refuses), the messages a refused value shows, Windows' elevation prompt
# (Wine's user is an administrator), the Start-menu entry and its icon as Explorer shows them,
# the entry in the list of installed programs, an upgrade while velmor_sndd.exe runs as a service
# (Windows keeps a running program's file in use). The service itself is tried under Wine's
# service manager by tests/service/windows_service.sh.
# Usage: nsis_installer.sh BUILD_DIR VERSION HOST_BUILD_DIR
#   HOST_BUILD_DIR holds the Linux stand-ins (tools/locksim, tools/keyreq). The script runs in a
#   private network namespace, where the lock system can be 127.0.0.2 and the fixed ports are
#   free: its own, or the Windows stage's (VELMOR_IN_NETNS).
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
host_build=${3:-}

# shellcheck source=../support/netns.sh
. "$(dirname "$0")/../support/netns.sh" "$@"
for tool in cpack makensis wine wineserver x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
for tool in locksim keyreq; do
    [ -x "$host_build/tools/$tool" ] || { echo "SKIP: no host build of $tool (VELMOR_HOST_BUILD)"; exit 77; }
done

work=$(mktemp -d)
# A prefix of its own: the installer writes the registry and may register a service, which must
# not reach the prefix the other tests share.
export WINEPREFIX=$work/wine WINEDEBUG=-all
# No offer to download Wine's .NET and HTML engines while the prefix is made: nothing here uses
# them, and the offer is a dialog that would wait for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -z "${locksim:-}" ] || kill "$locksim" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true
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

# An X server of its own for the operator program started from its Start-menu entry, there before
# the prefix's first program: Wine's desktop process keeps the display it was started with.
if command -v Xvfb >/dev/null; then
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 150); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -1 "$work/display")"
else
    echo "no Xvfb: velmor_snd from the Start menu is not tried"
    unset DISPLAY
fi

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
# The machine's settings file, where both programs read it: the program data folder.
settings=$WINEPREFIX/drive_c/ProgramData/velmor_snd/velmor_snd.conf
# The lines of a settings file that set something.
settings_set() { tr -d '\r' <"$1" | grep -v -e '^#' -e '^$' || true; }
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
# An install with a value the programs refuse: it ends with exit status 2.
refuse() { # installer option
    local status=0
    win "$installer" /S "$1" "/D=$folder" || status=$?
    [ "$status" -eq 2 ] ||
        fail "installer $1: exit status $status, expected 2; the folder holds: $(ls "$unix_folder" 2>&1 | tr '\n' ' ')"
    [ -n "$holder" ] || settle
}
# Uninstalled silently with the uninstaller Add/Remove Programs starts. It runs on from a copy of
# itself: done once the session has ended.
uninstall() {
    local status=0
    win "$folder\\Uninstall.exe" /S || status=$?
    [ "$status" -eq 0 ] || fail "uninstaller: exit status $status"
}
expected_files=(Uninstall.exe keyreq.exe locksim.exe velmor_snd.conf.installed velmor_snd.exe velmor_sndd.exe)
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
# velmor_sndd's event source in the Application log, as the 64-bit event log reads it.
event_source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\velmor_sndd'
# The event source there, its messages in the installed velmor_sndd.exe, its three levels.
check_event_source() { # what
    local source
    source=$(win reg query "$event_source_key" /reg:64 | tr -d '\r') || fail "$1: no event source velmor_sndd"
    grep -qF "EventMessageFile    REG_EXPAND_SZ    $folder\velmor_sndd.exe" <<<"$source" ||
        fail "$1: the event source's message file: $source"
    grep -q "TypesSupported *REG_DWORD *0x7$" <<<"$source" || fail "$1: the event source's types: $source"
}
# Nothing of an installation: no folder, no Start-menu entries, no uninstall key, no service, no
# event source.
check_nothing_installed() { # what
    [ ! -e "$unix_folder" ] || fail "$1: left behind: $(find "$unix_folder" -mindepth 1 -printf '%P ')"
    [ -z "$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/velmor_snd' -print -quit)" ] ||
        fail "$1: a Start-menu folder velmor_snd"
    ! registered DisplayVersion >/dev/null || fail "$1: the uninstall key is there"
    [ "$(velmor_services)" -eq 0 ] || fail "$1: a velmor_sndd service is registered"
    ! win reg query "$event_source_key" /reg:64 >/dev/null 2>&1 || fail "$1: the event source velmor_sndd is registered"
}
service_command() {
    win reg query 'HKLM\System\CurrentControlSet\Services\velmor_sndd' /v ImagePath | tr -d '\r' |
        sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p'
}
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
# Waits, at most 30 s, for a line matching PATTERN (extended) in FILE from byte OFFSET on.
wait_for_line() { # file offset pattern what
    local _
    for _ in $(seq 150); do
        tail -c +"$(($2 + 1))" "$1" 2>/dev/null | tr -d '\r' | grep -Eq "$3" && return 0
        sleep 0.2
    done
    fail "$4: no line matching [$3] in $1; it ends: $(tail -5 "$1" 2>&1)"
}

# --- Values the programs refuse end the install before anything is installed, with exit status
# 2: no folder, no Start-menu entries, no uninstall key, no service, no settings file. The
# service's options with a blank come as one word, which Wine quotes whole ("/SERVICE=--port 0"),
# as programs that quote every word with a blank in it write it.
refused=(
    /LINKPORT=70000
    /ALLOW=10.0.0.0/33
    "/SERVICE=--port 0"
    /SERVICE=--no-such-option
)
started=$SECONDS
for value in "${refused[@]}"; do
    refuse "$value"
    check_nothing_installed "installer $value"
    [ ! -e "$(dirname "$settings")" ] || fail "installer $value: left $(dirname "$settings")"
done
echo "${#refused[@]} refused silent installs: $((SECONDS - started)) s"

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
[ "$(velmor_services)" -eq 0 ] || fail "a velmor_sndd service before any was asked for"
check_event_source "install"

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

# --- The settings file of an install given no values, where the programs read it: every setting
# velmor_sndd has (its long options but those for the command line only) commented out, at its
# default, the lock system on this machine. Taken in, those are settings velmor_sndd accepts.
[ -f "$settings" ] || fail "no settings file $settings"
[ -z "$(settings_set "$settings")" ] || fail "given no values, the settings file sets: $(settings_set "$settings")"
shown=$(wine "$folder\\velmor_sndd.exe" --check </dev/null 2>&1 | tr -d '\r') || fail "velmor_sndd.exe --check: $shown"
[ "$shown" == 'velmor_sndd: the settings are fine (read from C:\ProgramData\velmor_snd\velmor_snd.conf)' ] ||
    fail "velmor_sndd.exe --check: $shown"
sed -E 's/^# ([a-z-]+ = )/\1/' "$settings" >"$WINEPREFIX/drive_c/every-setting.conf"
every_setting=$(settings_set "$WINEPREFIX/drive_c/every-setting.conf")
grep -qx 'link-host = 127.0.0.1' <<<"$every_setting" || fail "the settings file shows no link-host = 127.0.0.1: $(cat "$settings")"
options=$(win "$folder\\velmor_sndd.exe" --help | tr -d '\r' | sed -nE 's/^  --([a-z-]+).*/\1/p')
[ -n "$options" ] || fail "velmor_sndd.exe --help shows no options"
for option in $options; do
    case $option in config | check | install-service | uninstall-service | help | version) continue ;; esac
    grep -q "^$option = " <<<"$every_setting" || fail "the settings file does not show $option: $(cat "$settings")"
done
shown=$(wine "$folder\\velmor_sndd.exe" --config 'C:\every-setting.conf' --check </dev/null 2>&1 | tr -d '\r') ||
    fail "the settings commented out, taken in: $shown"

# --- Uninstalled silently: files, Start-menu entries, key and the settings file as the installer
# wrote it are gone.
started=$SECONDS
uninstall
settle
echo "silent uninstall: $((SECONDS - started)) s"
check_nothing_installed "uninstall"
[ ! -e "$(dirname "$settings")" ] || fail "the uninstaller left the settings file as installed: $(ls "$(dirname "$settings")")"

# --- The lock system's address and the front desks served given, and the service asked for: the
# settings file sets them, and the service runs without anyone starting it and passes a key
# request on to the lock system at that address (the stand-in on 127.0.0.2; nothing listens on
# 127.0.0.1:8264). The service's log is its default one.
"$host_build/tools/locksim" --host 127.0.0.2 >"$work/locksim.out" 2>&1 &
locksim=$!
wait_for_line "$work/locksim.out" 0 '^locksim: listening on 127\.0\.0\.2:8264$' "locksim"
service_log=$WINEPREFIX/drive_c/ProgramData/velmor_sndd/velmor_sndd.log
# A key request on port 3000 answered through the service, once its log, from byte OFFSET on,
# says that its link to the lock system at 127.0.0.2 is up.
key_request_answered() { # offset, what
    local answer
    wait_for_line "$service_log" "$1" 'velmor_sndd: connected to the lock system at 127\.0\.0\.2:8264$' "$2"
    answer=$("$host_build/tools/keyreq" --port 3000 --room 1110 --timeout 20000) ||
        fail "$2: keyreq: exit status $?, answer [$answer]"
    [ "$answer" == '<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>' ] ||
        fail "$2: the answer: $answer"
}
hold_session
install /LINKHOST=127.0.0.2 "/ALLOW=127.0.0.1, 10.1.20.0/24" /SERVICE
[ "$(settings_set "$settings")" == $'link-host = 127.0.0.2\nallow = 127.0.0.1\nallow = 10.1.20.0/24' ] ||
    fail "the settings file sets: $(settings_set "$settings")"
[[ "$(service_command)" == *"velmor_sndd.exe"*" --service" ]] || fail "the service's command line: $(service_command)"
running_within_30s || fail "/SERVICE did not start the service: $(service_state)"
key_request_answered 0 "the service /SERVICE started"

# --- velmor_snd started from its Start-menu entry, as an operator starts it, reaches the lock
# system the settings file names. The service is stopped first: the window takes port 3000.
if [ -n "${DISPLAY:-}" ]; then
    win sc stop velmor_sndd >/dev/null || true
    for _ in $(seq 150); do
        [ "$(service_state)" == STOPPED ] && break
        sleep 0.2
    done
    [ "$(service_state)" == STOPPED ] || fail "the service did not stop: $(service_state)"
    connections=$(grep -c 'connection [0-9]* opened' "$work/locksim.out" || true)
    win start "$(winepath -w "$start_menu/velmor_snd.lnk")" >/dev/null
    # Answered once the window listens with its link up; no state to wait on from outside.
    answer=""
    for _ in $(seq 300); do
        answer=$("$host_build/tools/keyreq" --port 3000 --room 1110 --timeout 5000 2>/dev/null) && break
        sleep 0.2
    done
    [ "$answer" == '<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>' ] ||
        fail "velmor_snd from the Start menu: the answer [$answer]"
    [ "$(grep -c 'connection [0-9]* opened' "$work/locksim.out")" -gt "$connections" ] ||
        fail "velmor_snd from the Start menu did not link to the lock system on 127.0.0.2"
    echo "velmor_snd from the Start menu: answered through the lock system on 127.0.0.2"
    # Closed as its window's close does (taskkill without /F sends it WM_CLOSE).
    win taskkill /IM velmor_snd.exe >/dev/null || true
    status=0
    for _ in $(seq 150); do
        status=0
        "$host_build/tools/keyreq" --port 3000 --room 1110 --timeout 1000 >/dev/null 2>&1 || status=$?
        [ "$status" -eq 3 ] && break
        sleep 0.2
    done
    [ "$status" -eq 3 ] || fail "velmor_snd from the Start menu did not end when closed"
    log_size=$(stat -c %s "$service_log")
    win sc start velmor_sndd >/dev/null || true
    running_within_30s || fail "the service did not start again: $(service_state)"
    key_request_answered "$log_size" "the service started again"
fi

# --- A refused value over the installation leaves it as it was: nothing of it uninstalled, its
# service running on.
refuse "/SERVICE=--port 0"
check_installed "a refused install over the installation"
[ "$(registered DisplayVersion)" == "$version" ] || fail "a refused install over the installation: no uninstall key"
[ "$(service_state)" == RUNNING ] || fail "a refused install over the installation left the service $(service_state)"

# Installs over the installation with the installer options given, and checks what an install
# over an installation keeps: one velmor_sndd service, its command line ending in the one given,
# running; the settings file as it was; a key request through the service answered by the lock
# system the file names.
install_over() { # what, the service's command line after velmor_sndd.exe, installer options...
    local what=$1 command=$2 log_size started=$SECONDS
    shift 2
    cp "$settings" "$work/settings.before"
    log_size=$(stat -c %s "$service_log")
    install "$@"
    echo "silent install over an installation: $((SECONDS - started)) s"
    [ "$(velmor_services)" -eq 1 ] || fail "$what: $(velmor_services) velmor_sndd services"
    [[ "$(service_command)" == *"velmor_sndd.exe"*"$command" ]] || fail "$what: the service's command line: $(service_command)"
    running_within_30s || fail "$what: the service does not run: $(service_state)"
    cmp -s "$settings" "$work/settings.before" ||
        fail "$what: the settings file changed: $(diff "$work/settings.before" "$settings")"
    # The installation before removed it; this one registers it again.
    check_event_source "$what"
    key_request_answered "$log_size" "$what"
}

# --- Installed again over itself with nothing given, the settings file as the installer wrote it:
# the uninstaller of the installation before leaves the file for the install after it, and the
# service that one had comes back and runs again.
install_over "an install over the installation" " --service"

# --- Installed again over itself, the administrator having changed the settings file, with other
# values and service options given: the installation before is removed first (its uninstaller
# runs, which deletes the whole uninstall key, a value only the old one had with it, every file
# it installed, and the service), a file of the administrator's stays, the settings file stays as
# the administrator changed it (the values given are not written into it), and the service comes
# back with the options given. One option without a blank: Wine would quote a word with blanks
# whole ("/SERVICE=a b"), which a command line typed at a prompt never does.
printf 'max-connections = 50\r\n' >>"$settings"
cp "$settings" "$work/changed.conf"
view=$(registry_view)
win reg add "$uninstall_key" /v OldVersionOnly /d stale /f "/reg:$view" >/dev/null
registered OldVersionOnly >/dev/null || fail "could not mark the installation"
echo "kept" >"$unix_folder/administrator-notes.txt"
service_options='--reconnect=2'
install_over "/SERVICE=$service_options over the installation" " --service $service_options" \
    /LINKHOST=127.0.0.3 "/SERVICE=$service_options"
! registered OldVersionOnly >/dev/null || fail "the installation before was not uninstalled first"
expected_files=(Uninstall.exe administrator-notes.txt keyreq.exe locksim.exe velmor_snd.conf.installed velmor_snd.exe velmor_sndd.exe)
check_installed "install over an installation"
rm "$unix_folder/administrator-notes.txt"

# --- Installed again with nothing given: the service the installation before had comes back with
# its options, and the settings file stays as the administrator changed it.
install_over "an install over the installation with a service with options" " --service $service_options"

# --- Uninstalled while the service runs: files, Start-menu entries, key and service are gone; the
# settings file the administrator changed stays as it is.
started=$SECONDS
uninstall
end_session
echo "silent uninstall of a running service: $((SECONDS - started)) s"
check_nothing_installed "uninstall"
cmp -s "$settings" "$work/changed.conf" || fail "the uninstaller did not leave the changed settings file as it was"
echo "PASS"
