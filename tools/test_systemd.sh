#!/usr/bin/env bash
# The package under a real systemd: a Debian 12 root made with mmdebstrap,
# booted with systemd-nspawn, the package installed in it with apt, and each
# unit driven from outside. First it proves that the container enforces a
# unit's device policy (the units' sandbox rests on it); then, for the modem,
# NCID, FRITZ!Box, MQTT and web units: active through READY=1, a call
# announced on the console and logged, status lines in the journal, a clean
# stop, a restart after SIGKILL and after a stopped loop (the watchdog), the
# modem never left locked; two instances side by side on one console; a
# modem and an NCID server through one instance, set up as the README shows;
# a console that is not there. It prints each unit's
# `systemd-analyze security` exposure.
#
#   sudo bash tools/test_systemd.sh [PACKAGE.deb]
#
# Runs as root (mmdebstrap, systemd-nspawn, mosquitto and curl installed by
# tools/setup.sh). Without PACKAGE.deb it builds one with tools/package.sh.
# The container shares the host's network: its servers and the MQTT broker
# listen on 127.0.0.1 only. The container, the broker and the root are gone
# at the end, whatever happens. The last line is "systemd: N passed, M
# failed"; the exit code is 1 when any check failed.
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "test_systemd: must run as root (it boots a container)" >&2
  exit 1
fi
for tool in mmdebstrap systemd-nspawn nsenter mosquitto mosquitto_pub curl; do
  if ! command -v "$tool" >/dev/null; then
    echo "test_systemd: $tool is missing (bash tools/setup.sh installs it)" >&2
    exit 1
  fi
done

. tools/checks.sh
# expect WHAT STATUS: one check on the status of what was just run.
expect() { check "$1" test "$2" -eq 0; }
started=$(date +%s)
say() { echo "[$(($(date +%s) - started)) s] $*"; }

work=$(mktemp -d /var/tmp/annc-systemd.XXXXXX)
root=$work/root
rig=$work/rig
nspawn_pid=
broker_pid=
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null  # nspawn halts the container on SIGTERM
    for _ in $(seq 300); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null
  # The root's /proc and /sys are the container's mounts, gone with it (a
  # moment after nspawn).
  for _ in 1 2 3 4 5; do
    rm -rf --one-file-system -- "$work" 2>/dev/null
    [ -e "$work" ] || break
    sleep 1
  done
  [ -e "$work" ] && echo "test_systemd: could not remove $work" >&2
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The package.
deb=${1:-}
if [ -z "$deb" ]; then
  if ! bash tools/package.sh </dev/null >"$work/package.log" 2>&1; then
    tail -20 "$work/package.log"
    echo "FAILED: tools/package.sh"
    echo "systemd: $passed passed, $((failed + 1)) failed"
    exit 1
  fi
  deb=$(ls build/annc_*.deb)
fi
deb=$(realpath "$deb")
version=$(dpkg-deb -f "$deb" Version)
started=$(date +%s)  # the budget counts from here

# A Debian 12 root with systemd and what the package depends on, so that
# apt installs it inside without a download.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | grep . | paste -sd, -)
say "mmdebstrap bookworm (with $depends)"
if ! mmdebstrap --variant=minbase --include="systemd,systemd-sysv,dbus,python3,$depends" \
  bookworm "$root" >"$work/mmdebstrap.log" 2>&1 </dev/null; then
  tail -20 "$work/mmdebstrap.log"
  echo "FAILED: mmdebstrap"
  echo "systemd: $passed passed, $((failed + 1)) failed"
  exit 1
fi
echo annc-test >"$root/etc/hostname"
# Not /tmp: the booted container has a tmpfs there.
cp "$deb" "$root/root/annc.deb"
mkdir -p "$rig"
mkfifo "$rig/cmd"

# Booted. A unified cgroup hierarchy and BPF let the container's systemd
# enforce DevicePolicy= and IPAddressDeny=; --register=no and --keep-unit
# need no systemd on the host.
say "booting"
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn -q -D "$root" --register=no --keep-unit \
  --machine=annc-test --capability=CAP_BPF --system-call-filter=bpf \
  --bind-ro="$repo/tests:/annc-tests" --bind-ro="$repo/tools:/annc-tools" --bind="$rig:/rig" \
  -b </dev/null >"$work/boot.log" 2>&1 &
nspawn_pid=$!
leader=
in_box() { nsenter -t "$leader" -a "$@"; }
for _ in $(seq 300); do
  leader=$(pgrep -P "$nspawn_pid" | head -1)
  if [ -n "$leader" ]; then
    state=$(in_box systemctl is-system-running 2>/dev/null)
    case $state in running | degraded) break ;; esac
  fi
  sleep 0.2
done
check "the container boots (systemd: ${state:-none})" test "${state:-}" = running -o "${state:-}" = degraded
if [ "${state:-}" != running ] && [ "${state:-}" != degraded ]; then
  tail -20 "$work/boot.log"
  echo "systemd: $passed passed, $failed failed"
  exit 1
fi

# The sandbox enforces what the units rely on, or nothing below proves
# anything: a unit with DevicePolicy=strict may not read /dev/zero, the
# same unit without it may.
check "device policy enforced: DevicePolicy=strict cannot read /dev/zero" \
  bash -c "! nsenter -t $leader -a systemd-run --wait -q -p DevicePolicy=strict -p 'DeviceAllow=/dev/null rw' sh -c 'head -c1 /dev/zero >/dev/null'"
check "the same unit without a device policy reads it" \
  in_box systemd-run --wait -q sh -c 'head -c1 /dev/zero >/dev/null'
if [ "$failed" -ne 0 ]; then
  echo "test_systemd: the container does not enforce device policies; nothing else would be proved" >&2
  echo "systemd: $passed passed, $failed failed"
  exit 1
fi

say "installing $(basename "$deb")"
in_box env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/annc.deb >"$work/apt.log" 2>&1
installed=$?
expect "apt-get install ./annc.deb in the container" $installed
if [ "$installed" -ne 0 ]; then
  tail -20 "$work/apt.log"
  echo "systemd: $passed passed, $failed failed"
  exit 1
fi
check "annc-line, annc-web and annc say the package's version $version" \
  bash -c "nsenter -t $leader -a annc-line --version | grep -qx 'annc-line $version' && nsenter -t $leader -a annc-web --version | grep -q ' $version' && nsenter -t $leader -a annc --version | grep -q '$version'"

# The rig: console, modem, servers.
in_box systemd-run -q --unit=annc-rig python3 /annc-tools/systemd_rig.py /rig /annc-tests
for _ in $(seq 100); do [ -f "$rig/ports" ] && break; sleep 0.1; done
check "the rig is up (console, modem, servers)" test -f "$rig/ports"
port() { awk -v n="$1" '$1 == n {print $2}' "$rig/ports"; }
commands=0
rig() {  # rig COMMAND...: runs it in the rig, true when it is done
  commands=$((commands + 1))
  echo "$*" >"$rig/cmd"
  for _ in $(seq 300); do
    grep -q "^done $commands\$" "$rig/rig.log" && return 0
    grep "^failed $commands:" "$rig/rig.log" && return 1
    sleep 0.1
  done
  return 1
}
# Every instance shows calls on the rig's console.
echo "ANNC_CONSOLE=/run/annc-console" >"$root/etc/annc/line.env"

calls_log=$root/var/log/annc/calls.log
logged() { grep -q "$1" "$calls_log" 2>/dev/null; }
wait_for() {  # wait_for SECONDS COMMAND...: until COMMAND succeeds
  local limit=$1
  shift
  for _ in $(seq $((limit * 5))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}
prop() { in_box systemctl show -P "$2" "$1"; }
journal() { in_box journalctl -q -o cat -u "$1"; }
shown() { tr -d '\000' <"$rig/console.log" | grep -qa "$1"; }

# unit_checks UNIT CALL-COMMAND NUMBER: active through READY=1, a call shown
# and logged, status lines in the journal, a clean stop, back after SIGKILL.
unit_checks() {
  local unit=$1 call=$2 number=$3
  say "$unit"
  check "$unit: started, active through READY=1 (Type=notify)" \
    bash -c "timeout 30 nsenter -t $leader -a systemctl start '$unit' && [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState '$unit')\" = active ]"
  rig $call && wait_for 20 logged "$number" && wait_for 10 shown "$number"
  expect "$unit: a call ($number) announced on the console and logged" $?
  check "$unit: its status lines in the journal" bash -c "nsenter -t $leader -a journalctl -q -o cat -u '$unit' | grep -q 'call from'"
  local pid
  pid=$(prop "$unit" MainPID)
  in_box systemctl kill -s KILL "$unit"
  check "$unit: SIGKILLed, restarted" \
    wait_for 15 bash -c "[ \"\$(nsenter -t $leader -a systemctl show -P MainPID '$unit')\" != '$pid' ] && [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState '$unit')\" = active ] && [ \"\$(nsenter -t $leader -a systemctl show -P SubState '$unit')\" = running ]"
  check "$unit: stopped cleanly (inactive, not failed)" \
    bash -c "timeout 30 nsenter -t $leader -a systemctl stop '$unit' && [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState '$unit')\" = inactive ]"
}

modem_unit=annc-line@dev-cidmodem.service
unit_checks "$modem_unit" "modem-call 5551234 ANN LEE" 5551234
check "the calls log is private: /var/log/annc still 0750 after starts" \
  bash -c "[ \"\$(stat -c %a '$root/var/log/annc')\" = 750 ]"
check "the state folder /var/lib/annc 0750" bash -c "[ \"\$(stat -c %a '$root/var/lib/annc')\" = 750 ]"
check "the modem left unlocked after stop" bash -c "! ls '$root'/run/lock/LCK..* 2>/dev/null | grep -q ."
check "beeps reach the console, not the journal" \
  bash -c "grep -qa \$'\\a' '$rig/console.log' && ! nsenter -t $leader -a journalctl -q -o cat -u '$modem_unit' | grep -qa \$'\\a\\|blob data'"
check "no ALSA library lines in the journal" bash -c "! nsenter -t $leader -a journalctl -q -o cat -u '$modem_unit' | grep -q 'ALSA lib'"

# The watchdog: a loop stopped with SIGSTOP is killed and restarted.
in_box systemctl start "$modem_unit"
pid=$(prop "$modem_unit" MainPID)
say "$modem_unit: SIGSTOP to $pid, waiting for the watchdog (20 s + 5 s)"
in_box sh -c "kill -STOP $pid"
check "watchdog: a stopped loop is restarted" \
  wait_for 40 bash -c "[ \"\$(nsenter -t $leader -a systemctl show -P MainPID '$modem_unit')\" != '$pid' ] && [ \"\$(nsenter -t $leader -a systemctl show -P SubState '$modem_unit')\" = running ]"
check "watchdog: the journal says so" bash -c "nsenter -t $leader -a journalctl -q -o cat -u '$modem_unit' | grep -qi 'watchdog timeout'"
rig modem-call 5552345 BEA BAY && wait_for 20 logged 5552345
expect "after the watchdog's restart a call is still announced" $?
in_box systemctl stop "$modem_unit"

ncid_unit="annc-line-ncid@127.0.0.1:$(port ncid).service"
fritz_unit="annc-line-fritz@127.0.0.1:$(port fritz).service"
unit_checks "$ncid_unit" "ncid-call ncid 5553456 CY DEE" 5553456
unit_checks "$fritz_unit" "fritz-call 5554567" 5554567

# The units' exposure as systemd-analyze security rates them here, before
# any drop-in.
mqtt_unit=annc-line-mqtt@127.0.0.1:1883.service
for unit in "$modem_unit" "$ncid_unit" "$fritz_unit" "$mqtt_unit" annc-web.service; do
  score=$(in_box systemd-analyze security "$unit" 2>/dev/null | sed -n 's/.*exposure level for .*: \([0-9.]*\) .*/\1/p')
  echo "security: ${unit%%@*} exposure ${score:-unknown}"
done

# Two instances on one console, side by side for 60 s: neither hangs the
# other up, neither restarts, and each still announces.
say "two instances side by side for 60 s"
in_box systemctl start "$ncid_unit" "$fritz_unit"
sleep 60
check "two instances on one console: both active after 60 s, no restart" \
  bash -c "for u in '$ncid_unit' '$fritz_unit'; do [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState \$u)\" = active ] && [ \"\$(nsenter -t $leader -a systemctl show -P NRestarts \$u)\" = 0 ] || exit 1; done"
rig ncid-call ncid 5555678 DI EVE && wait_for 20 logged 5555678 && rig fritz-call 5556789 && wait_for 20 logged 5556789
expect "two instances on one console: both still announce" $?
in_box systemctl stop "$ncid_unit" "$fritz_unit"

# A modem and an NCID server through one instance, as the README shows: the
# instance's environment file names the server, and the drop-in the package
# ships lets the modem's unit reach the network.
say "a modem and an NCID server in one instance"
printf 'ANNC_LINE_SOURCES=ncid:127.0.0.1:%s\nANNC_LINE_OPTIONS=--say-names\n' "$(port ncid2)" \
  >"$root/etc/annc/${modem_unit%.service}.env"
check "the README's drop-in for a modem with a server, installed" \
  in_box install -D -m 0644 /usr/share/doc/annc/annc-line-network.conf "/etc/systemd/system/$modem_unit.d/network.conf"
in_box systemctl daemon-reload
check "one instance, two sources: started" timeout 30 nsenter -t "$leader" -a systemctl start "$modem_unit"
rig modem-call 5557890 FAY GEE && rig ncid-call ncid2 5558901 GUS HAY && wait_for 20 logged 5558901
expect "one instance, two sources: the modem's call and the server's announced and logged" $?
# --say-names from the environment file: annc-name speaks the names inside
# the unit's sandbox, into its cache folder.
wait_for 20 bash -c "ls '$root'/var/cache/annc/names/*.wav"
expect "--say-names under the unit: names synthesized into /var/cache/annc/names" $?
check "--say-names under the unit: no name failed" \
  bash -c "! nsenter -t $leader -a journalctl -q -o cat -u '$modem_unit' | grep -q 'cannot speak'"
in_box systemctl stop "$modem_unit"

# MQTT: a call another box published, followed by the MQTT unit.
mqtt_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$mqtt_port" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
broker_pid=$!
mqtt_unit="annc-line-mqtt@127.0.0.1:$mqtt_port.service"
say "$mqtt_unit"
check "$mqtt_unit: started, active through READY=1" timeout 30 nsenter -t "$leader" -a systemctl start "$mqtt_unit"
mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -q 1 -t annc/otherbox/call \
  -m '{"event":"call","id":1,"decision":"announce","number":"5559012","name":"IVY JAY"}'
wait_for 20 logged 5559012 && wait_for 10 shown 5559012
expect "$mqtt_unit: a published call announced on the console and logged" $?
mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -q 1 -t annc/otherbox/call \
  -m '{"event":"end","id":1,"decision":"announce","number":"5559012"}'
check "$mqtt_unit: stopped cleanly" \
  bash -c "timeout 30 nsenter -t $leader -a systemctl stop '$mqtt_unit' && [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState '$mqtt_unit')\" = inactive ]"

# The web page.
say "annc-web.service"
check "annc-web.service: started, active through READY=1" timeout 30 nsenter -t "$leader" -a systemctl start annc-web.service
check "annc-web.service: its page lists the calls" \
  bash -c "curl -sf http://127.0.0.1:8080/ | grep -q 5551234"
wpid=$(prop annc-web.service MainPID)
in_box systemctl kill -s KILL annc-web.service
check "annc-web.service: SIGKILLed, restarted" \
  wait_for 15 bash -c "[ \"\$(nsenter -t $leader -a systemctl show -P MainPID annc-web.service)\" != '$wpid' ] && [ \"\$(nsenter -t $leader -a systemctl show -P ActiveState annc-web.service)\" = active ]"
check "annc-web.service: stopped cleanly" timeout 30 nsenter -t "$leader" -a systemctl stop annc-web.service

# A console that is not there: the unit fails at once, and says which.
say "a missing console"
absent_unit="annc-line-ncid@127.0.0.1:$(port ncid2).service"
echo "ANNC_CONSOLE=/dev/tty9" >"$root/etc/annc/${absent_unit%.service}.env"
in_box systemctl start "$absent_unit" >/dev/null 2>&1
sleep 5
check "no console: the unit failed, not restarting (exit code 3)" \
  bash -c "[ \"\$(nsenter -t $leader -a systemctl show -P ActiveState '$absent_unit')\" = failed ] && [ \"\$(nsenter -t $leader -a systemctl show -P NRestarts '$absent_unit')\" = 0 ] && [ \"\$(nsenter -t $leader -a systemctl show -P ExecMainStatus '$absent_unit')\" = 3 ]"
check "no console: the journal names it" \
  bash -c "nsenter -t $leader -a journalctl -q -o cat -u '$absent_unit' | grep -q 'cannot open the console /dev/tty9'"


rig stop >/dev/null
elapsed=$(($(date +%s) - started))
echo "took ${elapsed} s after the package build"
echo "systemd: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
