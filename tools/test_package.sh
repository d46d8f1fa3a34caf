#!/usr/bin/env bash
# Builds the Debian package, installs it with apt, and checks what a user
# gets: the files, the user annc, the log folder, the programs on PATH, one
# call from an emulated modem announced by the installed annc-line and annc
# as user annc, the units by systemd-analyze; then removal (units gone,
# phone book and log kept) and purge (both gone).
#
#   sudo bash tools/test_package.sh
#
# Runs as root, without a terminal and without a running systemd (a
# container will do). Whatever happens, the package is purged at the end and
# a user annc the run created is deleted again. The last line is
# "package: N passed, M failed"; the exit code is 1 when any check failed.
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "test_package: must run as root (it installs and removes the package)" >&2
  exit 1
fi
if dpkg-query -W -f='${Status}' annc 2>/dev/null | grep -q "installed"; then
  echo "test_package: the package annc is installed already; remove it first (apt-get purge annc)" >&2
  exit 1
fi

. tools/checks.sh

user_existed=no
getent passwd annc >/dev/null && user_existed=yes
group_existed=no
getent group annc >/dev/null && group_existed=yes
work=$(mktemp -d /tmp/annc-package.XXXXXX)
apt_quiet() { DEBIAN_FRONTEND=noninteractive apt-get "$@" </dev/null >"$work/apt.log" 2>&1; }

cleanup() {
  if dpkg-query -W -f='${Status}' annc 2>/dev/null | grep -q "installed\|config-files"; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq annc </dev/null >/dev/null 2>&1 || true
  fi
  rm -f /etc/systemd/system/*.wants/annc-line@*.service
  if [ "$user_existed" = no ] && getent passwd annc >/dev/null; then userdel annc >/dev/null 2>&1 || true; fi
  if [ "$group_existed" = no ] && getent group annc >/dev/null; then groupdel annc >/dev/null 2>&1 || true; fi
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The package.
if ! bash tools/package.sh </dev/null >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "FAILED: tools/package.sh"
  echo "package: $passed passed, $((failed + 1)) failed"
  exit 1
fi
deb=$(ls build/annc_*.deb)
check "tools/package.sh builds $deb" test -f "$deb"
version=$(dpkg-deb -f "$deb" Version)
check "the package's version is the project's ($version)" \
  grep -q "project(annc VERSION $version " CMakeLists.txt
check "its dependencies come from the binaries (libasound2, libsndfile1, libc6)" \
  bash -c "dpkg-deb -f '$deb' Depends | grep libasound2 | grep libsndfile1 | grep -q libc6"
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  check "lintian reports no error" bash -c "! grep -q '^E: ' '$work/lintian.log'"
  sed -n 's/^\([EW]: .*\)/  lintian: \1/p' "$work/lintian.log"
fi

# Installed.
check "apt-get install ./$deb" apt_quiet install -y "./$deb"
lib=/usr/lib/annc
check "programs in $lib, executable" test -x $lib/annc -a -x $lib/annc-line -a -x $lib/annc-name -a -x $lib/annc-web
check "/usr/bin/annc and /usr/bin/annc-line are relative links to them" \
  bash -c '[ "$(readlink /usr/bin/annc)" = ../lib/annc/annc ] && [ "$(readlink /usr/bin/annc-line)" = ../lib/annc/annc-line ] && [ "$(readlink /usr/bin/annc-web)" = ../lib/annc/annc-web ]'
check "installed programs are stripped" \
  bash -c "! readelf -S $lib/annc $lib/annc-line $lib/annc-name $lib/annc-web | grep -q '\.debug_info\|\.symtab'"
check "annc-name beside annc-line speaks a name into a WAV" \
  bash -c "$lib/annc-name --voice en -- 'Ann Lee' \"$work/name.wav\" && python3 -c 'import sys, wave; sys.exit(wave.open(sys.argv[1]).getnframes() < 1000)' \"$work/name.wav\""
check "annc-line does not link eSpeak NG" bash -c "! ldd $lib/annc-line | grep -q espeak"
check "the sample voice is in $lib/Numvoice" \
  bash -c "ls $lib/Numvoice/0.wav $lib/Numvoice/900.wav $lib/Numvoice/InterDigit.Wav $lib/Numvoice/nophone.wav"
check "Numvoice/aon.db links to the configuration file /etc/annc/aon.db" \
  bash -c "[ \"\$(readlink $lib/Numvoice/aon.db)\" = /etc/annc/aon.db ] && [ -f /etc/annc/aon.db ]"
check "/etc/annc/aon.db is a conffile" bash -c "dpkg-query -W -f='\${Conffiles}' annc | grep -q /etc/annc/aon.db"
units=(annc-line@.service annc-line-ncid@.service annc-line-fritz@.service annc-line-mqtt@.service annc-web.service)
check "the units are in /usr/lib/systemd/system" \
  bash -c "cd /usr/lib/systemd/system && ls ${units[*]}"
check "the units name the installed paths, none /opt/annc" \
  bash -c "cd /usr/lib/systemd/system && grep -q 'ExecStart=/usr/lib/annc/annc-line' ${units[*]} && ! grep -q /opt/ ${units[*]}"
check "copyright, changelog, the udev rule's example and the network drop-in in /usr/share/doc/annc" \
  bash -c "ls /usr/share/doc/annc/copyright /usr/share/doc/annc/changelog.gz /usr/share/doc/annc/99-annc-modem.rules /usr/share/doc/annc/annc-line-network.conf"
check "the udev rule is no active rule" \
  bash -c "! ls /lib/udev/rules.d/*annc* /usr/lib/udev/rules.d/*annc* /etc/udev/rules.d/*annc*"
check "system user annc, no home, no login shell" \
  bash -c "getent passwd annc | awk -F: '\$3 < 1000 && \$7 ~ /nologin\$/ {ok=1} END {exit !ok}' && [ ! -e \"\$(getent passwd annc | cut -d: -f6)\" ]"
check "group annc; user annc in dialout and audio" \
  bash -c "getent group annc && id -nG annc | tr ' ' '\n' | grep -qx dialout && id -nG annc | tr ' ' '\n' | grep -qx audio"
check "/var/log/annc is owned by annc" bash -c "[ \"\$(stat -c %U:%G /var/log/annc)\" = annc:annc ]"
check "annc --version from PATH" bash -c "[ \"\$(command -v annc)\" = /usr/bin/annc ] && annc --version | grep -q '$version'"
check "annc-line --version from PATH, the package's version" bash -c "[ \"\$(command -v annc-line)\" = /usr/bin/annc-line ] && annc-line --version | grep -qx 'annc-line $version'"
check "annc-web --version from PATH, the package's version" bash -c "[ \"\$(command -v annc-web)\" = /usr/bin/annc-web ] && annc-web --version | grep -q ' $version\$'"
check "user annc may write the lists' folder /etc/annc and the phone book (annc-web edits them)" \
  runuser -u annc -- bash -c "[ -w /etc/annc ] && [ -w /etc/annc/aon.db ]"
check "nothing enabled by the installation" bash -c "! ls /etc/systemd/system/*.wants/annc-line* /etc/systemd/system/*.wants/annc-web*"

# One call from an emulated modem, announced by the installed programs as
# user annc, into the log the units use.
chmod 0755 "$work"
cat >"$work/call.py" <<'PY'
import os, pwd, subprocess, sys, time
sys.path.insert(0, os.path.join(sys.argv[1], "tests"))
from modem_emulator import ModemEmulator, north_american_block
work, log = sys.argv[2], "/var/log/annc/calls.log"
annc = pwd.getpwnam("annc")
lock = os.path.join(work, "lock")
os.mkdir(lock)
os.chown(lock, annc.pw_uid, annc.pw_gid)
with ModemEmulator(work) as modem:
    os.chown(modem.slave_path, annc.pw_uid, -1)
    cmd = ["runuser", "-u", "annc", "--", "env", "HOME=/nonexistent", "annc-line", "--once",
           "--ring-timeout", "1", "--lock-dir", lock, "--log", log, modem.link]
    with open(os.path.join(work, "line.err"), "wb") as err:
        line = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    try:
        deadline = time.monotonic() + 15
        while not any(c.startswith("AT+VCID") for c in modem.commands_seen()):
            if line.poll() is not None or time.monotonic() > deadline:
                sys.exit("annc-line never switched caller ID on")
            time.sleep(0.05)
        time.sleep(0.5)
        modem.play(north_american_block("5551234", "ANN LEE"))
        logged = lambda: os.path.exists(log) and b"5551234" in open(log, "rb").read()
        modem.ring_until(logged, gap=0.4, limit=20)
        code = line.wait(20)
    finally:
        if line.poll() is None:
            line.kill()
            line.wait()
sys.exit("annc-line ended with %d" % code if code != 0 else 0)
PY
check "installed annc-line --once, as user annc, announces a call from the emulated modem" \
  timeout 90 python3 "$work/call.py" "$repo" "$work"
tr -d '\a' <"$work/line.err" 2>/dev/null | awk '{print "  " $0}' | head -20
check "one announced call in /var/log/annc/calls.log" \
  bash -c "[ \"\$(grep -c '5551234 - Ann Lee' /var/log/annc/calls.log)\" = 1 ]"
check "the log file belongs to annc" bash -c "[ \"\$(stat -c %U /var/log/annc/calls.log)\" = annc ]"
check "no lock left behind" bash -c "[ -z \"\$(ls -A '$work/lock')\" ]"
check "the call's row in the history /var/lib/annc/calls.db, owned by annc" \
  bash -c "[ \"\$(sqlite3 /var/lib/annc/calls.db \"SELECT number || ' ' || decision || ' ' || announced FROM calls\")\" = '5551234 announce 1' ] && [ \"\$(stat -c %U /var/lib/annc/calls.db)\" = annc ]"
check "the units keep the history in /var/lib/annc" \
  bash -c "cd /usr/lib/systemd/system && [ -z \"\$(grep -L '^StateDirectory=annc\$' annc-line@.service annc-line-ncid@.service annc-line-fritz@.service annc-line-mqtt@.service)\" ]"

# The units, as instances (a template alone has no device to check).
# verify exits with 0 on most mistakes in a unit and only reports them: any
# report fails the check.
systemd-analyze verify annc-line@dev-ttyS0.service annc-line-ncid@192.168.1.10.service \
  annc-line-fritz@fritz.box.service annc-line-mqtt@broker.service annc-web.service >"$work/verify.log" 2>&1
verified=$?
sed 's/^/  verify: /' "$work/verify.log"
check "systemd-analyze verify on the installed units, nothing reported" \
  test "$verified" -eq 0 -a ! -s "$work/verify.log"
for unit in "${units[@]}"; do
  instance=${unit/@/@example}  # annc-web.service is no template: itself
  cp "/usr/lib/systemd/system/$unit" "$work/$instance"
  score=$(systemd-analyze security --offline=yes "$work/$instance" 2>/dev/null | sed -n 's/.*exposure level for .*: \([0-9.]*\) .*/\1/p')
  if [ -n "$score" ]; then
    check "systemd-analyze security: $unit exposure $score, below 2" awk -v s="$score" 'BEGIN {exit !(s < 2)}'
  else
    echo "note: systemd-analyze security --offline does not run here"
  fi
done

# Removal stops and disables what the user enabled, keeps book and log.
systemctl enable annc-line@dev-ttyS0.service >/dev/null 2>&1
check "an instance enabled before removal" ls /etc/systemd/system/multi-user.target.wants/annc-line@dev-ttyS0.service
check "apt-get remove annc" apt_quiet remove -y annc
check "units and programs gone after removal" \
  bash -c "! ls /usr/lib/systemd/system/annc-line* /usr/lib/annc /usr/bin/annc"
check "the enabled instance is disabled" bash -c "! ls /etc/systemd/system/*.wants/annc-line*"
check "phone book and log kept after removal" test -f /etc/annc/aon.db -a -f /var/log/annc/calls.log
check "apt-get purge annc" apt_quiet purge -y annc
check "phone book, log and history folders gone after purge" bash -c "! ls -d /etc/annc /var/log/annc /var/lib/annc"
check "nothing of the package left in dpkg" bash -c "! dpkg-query -W annc"

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
