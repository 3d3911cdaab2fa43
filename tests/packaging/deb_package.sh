#!/usr/bin/env bash
# The Debian package as an administrator gets it: cpack makes it from the build, its name, fields
# and files are checked, lintian reviews it, and the programs unpacked from it (dpkg-deb -x into
# a scratch root, never installed into this machine) answer --version and pass one key request
# in a private network namespace.
# Usage: deb_package.sh BUILD_DIR VERSION WITH_WINDOW(ON|OFF)
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
with_window=$3

if [ -z "${VELMOR_IN_NETNS:-}" ] && unshare -n true 2>/dev/null; then
    exec unshare -n env VELMOR_IN_NETNS=1 bash "$0" "$@"
fi
for tool in cpack dpkg-deb lintian logrotate; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

# shellcheck source=../support/scratch.sh
. "$(dirname "$0")/../support/scratch.sh"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# --- The package, made into a folder of its own so that nothing in the build tree is touched.
started=$SECONDS
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
echo "cpack -G DEB: $((SECONDS - started)) s"
deb=$work/out/velmor-snd_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(cd "$work/out" && ls ./*.deb)"

# --- Its fields: the version is the project's, the dependencies come from the binaries.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" == velmor-snd ] || fail "Package: $(field Package)"
[ "$(field Version)" == "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" == amd64 ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
needed=(libc6 libxml2 libsystemd0 libcpp-httplib0.11)
[ "$with_window" == ON ] && needed+=(libqt6widgets6)
for library in "${needed[@]}"; do
    [[ ", $depends" == *", $library"* ]] || fail "Depends lacks $library: $depends"
done

# --- Its files, exactly: nothing missing, nothing stray (no /usr/local, no test or load tools).
expected=(
    etc/logrotate.d/velmor_sndd
    etc/velmor_snd.conf
    usr/bin/keyreq
    usr/bin/locksim
    usr/bin/velmor_sndd
    usr/lib/systemd/system/velmor_sndd.service
    usr/share/doc/velmor-snd/changelog.gz
    usr/share/doc/velmor-snd/copyright
    usr/share/lintian/overrides/velmor-snd
    usr/share/man/man1/keyreq.1.gz
    usr/share/man/man1/locksim.1.gz
    usr/share/man/man1/velmor_sndd.1.gz
)
if [ "$with_window" == ON ]; then
    expected+=(usr/bin/velmor_snd usr/share/applications/velmor_snd.desktop
        usr/share/man/man1/velmor_snd.1.gz)
    for size in 16 24 32 48 256; do
        expected+=("usr/share/icons/hicolor/${size}x${size}/apps/velmor_snd.png")
    done
fi
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort >"$work/files"
diff -u "$work/expected" "$work/files" >&2 || fail "the package's files differ from the expected (-expected +package)"

# --- The control part: the defaults file and the rotation rule are the administrator's, and
# nothing enables the unit.
dpkg-deb --control "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" == $'/etc/logrotate.d/velmor_sndd\n/etc/velmor_snd.conf' ] ||
    fail "conffiles: $(cat "$work/control/conffiles")"
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "no executable $script"
    if grep -v '^ *#' "$work/control/$script" | grep -Eq '(systemctl|deb-systemd-helper)[^#]* (enable|start)\b'; then
        fail "$script enables or starts the service"
    fi
done

# --- lintian: no error and no warning. Everything it still says is shown, the overridden tags
# with their reasons (packaging/debian/lintian-overrides).
started=$SECONDS
lintian --display-info --pedantic --show-overrides "$deb" >"$work/lintian.log" 2>&1 || true
echo "lintian: $((SECONDS - started)) s"
# (It warns on stderr when run as root; that is about this run, not the package.)
sed -e '/^running with root privileges/d' -e 's/^/lintian: /' "$work/lintian.log"
if grep -Eq '^[EW]: ' "$work/lintian.log"; then
    fail "lintian has errors or warnings"
fi

# --- The unpacked files: the unit points at them, the changelog is this version's.
root=$work/root
dpkg-deb -x "$deb" "$root"
unit=$root/usr/lib/systemd/system/velmor_sndd.service
# shellcheck disable=SC2016 # systemd expands the variable, not this script
grep -qx 'ExecStart=/usr/bin/velmor_sndd' "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
grep -qx 'LogsDirectory=velmor_sndd' "$unit" || fail "no LogsDirectory= for the log file and key record"
# The rotation rule as logrotate reads it, run for real on files where the unit has them (here
# under a scratch root): both moved away, and the programs told to reopen them: the service, and
# an operator window writing there, but not one writing elsewhere (stand-ins named velmor_snd,
# which SIGHUP ends).
rule=$root/etc/logrotate.d/velmor_sndd
mkdir -p "$work/var/log/velmor_sndd" "$work/stand-in"
echo "line" >"$work/var/log/velmor_sndd/velmor_sndd.log"
echo "{}" >"$work/var/log/velmor_sndd/keys.jsonl"
cp "$(command -v sleep)" "$work/stand-in/velmor_snd"
"$work/stand-in/velmor_snd" 600 >>"$work/var/log/velmor_sndd/velmor_sndd.log" &
window_here=$!
"$work/stand-in/velmor_snd" 600 >/dev/null &
window_elsewhere=$!
sed -e "s|/var/log/|$work/var/log/|g" -e 's|systemctl kill .*|touch "'"$work"'/told"|' "$rule" >"$work/rule"
logrotate --force --state "$work/logrotate.state" "$work/rule" >"$work/logrotate.log" 2>&1 ||
    fail "logrotate: $(cat "$work/logrotate.log")"
for file in velmor_sndd.log keys.jsonl; do
    [ -f "$work/var/log/velmor_sndd/$file.1" ] && [ ! -e "$work/var/log/velmor_sndd/$file" ] ||
        fail "$file not moved away: $(ls "$work/var/log/velmor_sndd")"
done
[ -f "$work/told" ] || fail "logrotate did not tell the program to reopen its files"
# SIGHUP was sent before logrotate ended; the stand-in's end follows within moments.
timeout 10 tail --pid="$window_here" -f /dev/null || kill "$window_here"
status=0
wait "$window_here" || status=$?
[ "$status" -eq $((128 + 1)) ] || fail "the window writing there was not sent SIGHUP (status $status)"
kill -0 "$window_elsewhere" 2>/dev/null || fail "a window writing elsewhere was signalled"
kill "$window_elsewhere"
wait "$window_elsewhere" 2>/dev/null || true
top=$(gzip -dc "$root/usr/share/doc/velmor-snd/changelog.gz" | head -1)
[[ "$top" == "velmor-snd ($version) "* ]] || fail "the changelog's latest entry is not $version: $top"

# --- The unpacked programs: every command-line program tells the package's version.
bin=$root/usr/bin
for program in velmor_sndd locksim keyreq; do
    shown=$("$bin/$program" --version) || fail "$program --version: exit status $?"
    [ "$shown" == "$program $version" ] || fail "$program --version: $shown"
done
# The settings file as shipped (every setting commented out with its default) is fine, and so is
# every setting in it once uncommented.
settings=$root/etc/velmor_snd.conf
"$bin/velmor_sndd" --config "$settings" --check >/dev/null || fail "the shipped settings file"
[ "$(grep -c '^[a-z]' "$settings")" -eq 0 ] || fail "a setting not commented out: $(grep '^[a-z]' "$settings")"
sed 's/^#\([a-z]\)/\1/' "$settings" >"$work/uncommented.conf"
"$bin/velmor_sndd" --config "$work/uncommented.conf" --check >/dev/null ||
    fail "the shipped settings, uncommented"

# --- One key request from the unpacked keyreq through the unpacked velmor_sndd to the unpacked
# locksim, on their fixed ports, which only a private network namespace has free.
if [ -z "${VELMOR_IN_NETNS:-}" ]; then
    echo "SKIP: cannot make a private network namespace here (needs root) for the key request"
    exit 77
fi
ip link set lo up
mkfifo "$work/locksim.out" "$work/gateway.err"
"$bin/locksim" >"$work/locksim.out" &
exec 3<"$work/locksim.out"
IFS= read -r -t 30 -u 3 line || fail "locksim did not start"
[ "$line" == "locksim: listening on 127.0.0.1:8264" ] || fail "locksim: $line"
"$bin/velmor_sndd" >"$work/gateway.out" 2>"$work/gateway.err" &
gateway=$!
exec 4<"$work/gateway.err"
while IFS= read -r -t 30 -u 4 line; do
    echo "velmor_sndd: ${line#velmor_sndd: }"
    [ "$line" == "velmor_sndd: connected to the lock system at 127.0.0.1:8264" ] && break
done
[ "${line:-}" == "velmor_sndd: connected to the lock system at 127.0.0.1:8264" ] ||
    fail "velmor_sndd did not connect to locksim"
answer=$("$bin/keyreq" --room 1110 --timeout 20000) || fail "keyreq: exit status $?, answer [$answer]"
[ "$answer" == '<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>' ] ||
    fail "answer: $answer"
kill -TERM "$gateway"
status=0
wait "$gateway" || status=$?
[ "$status" -eq 0 ] || fail "velmor_sndd exit status after SIGTERM: $status"
grep -q "^Room = \[1110 *\] " "$work/gateway.out" || fail "no summary line in the log: $(cat "$work/gateway.out")"
echo "PASS"
