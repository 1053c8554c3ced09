#!/usr/bin/env bash
# Builds the Debian package and lists what it holds and depends on. On a clean machine (run as
# `bash scripts/fresh-root.sh bash scripts/package-check.sh`) it then takes away every package it
# installed for the build, installs the package with apt (Depends only, no Recommends), starts
# both programs from their menu entries and runs lorvan-cli against the simulator.
# On a machine that already had the build packages it stops after the build: installing the
# package there is the user's decision.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
start=$SECONDS
step() { echo "== [$((SECONDS - start)) s] $*"; }
fail() { echo "package-check: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${binary:Package}\n' | sed 's/:.*//' | sort -u; }
before="$(installed)"
step "Installing missing packages (scripts/packages.txt)"
bash "$top/scripts/install-deps.sh"
added="$(comm -13 <(echo "$before") <(installed))"

step "Building the package in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target LorvanConf LorvanModbusTest lorvan-cli lorvan-devsim lorvan-netfile \
    lorvan-logger lorvan-manpage
rm -f "$build"/lorvan_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/lorvan_*.deb)"
dpkg-deb --field "$deb" Package Version Depends Recommends
contents="$(dpkg-deb -c "$deb")"
for f in usr/bin/LorvanConf usr/bin/LorvanModbusTest usr/bin/lorvan-cli usr/bin/lorvan-devsim \
    usr/share/applications/lorvanconf.desktop usr/share/applications/lorvanmodbustest.desktop \
    usr/share/icons/hicolor/scalable/apps/lorvanconf.svg \
    usr/share/icons/hicolor/scalable/apps/lorvanmodbustest.svg usr/share/man/man1/lorvan-cli.1.gz \
    usr/bin/lorvan-logger usr/lib/systemd/system/lorvan-logger.service etc/lorvan/logger.conf \
    usr/share/man/man8/lorvan-logger.8.gz; do
    grep -q " \./$f\$" <<<"$contents" || fail "the package lacks /$f"
done
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt libraries among the Depends"
grep -q '^-rw-r----- .* \./etc/lorvan/logger.conf$' <<<"$contents" ||
    fail "the service's configuration is readable by others"
for script in postinst prerm postrm conffiles; do
    dpkg-deb --info "$deb" "$script" >/dev/null || fail "the package lacks its $script"
done

if [ "$(id -u)" -ne 0 ] || [ -z "$added" ]; then
    step "Built $deb; not a clean machine, so it is not installed here"
    exit 0
fi

step "Removing the $(echo "$added" | wc -l) packages installed for the build"
cp "$deb" /tmp/lorvan.deb
# The build tree's programs must not stand in for the installed ones.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $added >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get autoremove -y -qq --purge >/dev/null
step "Installing the package with apt"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/lorvan.deb

run="$(mktemp -d)"
export LORVAN_PORT_DIR="$run/ports" XDG_CONFIG_HOME="$run/config" QT_QPA_PLATFORM=offscreen
lorvan-devsim --port-dir "$LORVAN_PORT_DIR" --log "$run/devsim.log" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$LORVAN_PORT_DIR/COM1" ] && break; sleep 0.1; done
P="$LORVAN_PORT_DIR/COM1"

for entry in /usr/share/applications/lorvanconf.desktop /usr/share/applications/lorvanmodbustest.desktop; do
    exec_line="$(sed -n 's/^Exec=//p' "$entry")"
    step "Starting $exec_line from $(basename "$entry")"
    # Still running after five seconds: it started and waits for the user.
    status=0
    (cd "$run" && timeout 5 $exec_line >"$run/start.log" 2>&1) || status=$?
    [ "$status" -eq 124 ] || { cat "$run/start.log"; fail "$exec_line ended with status $status"; }
done

step "lorvan-cli against the simulator"
cd "$run"
lorvan-cli --help | grep -q snapshot
lorvan-cli scan --port "$P" --first 1 --last 5
lorvan-cli identity --port "$P" --addr 2 | grep -q $'^serial\t1A02$'
lorvan-cli poll --port "$P" --addr 1 --count 2 | grep -c '^[01],' | grep -q 2
lorvan-cli poll --port "$P" --addr 1 --count 2 --table ArcData1.dbf
lorvan-cli table ArcData1.dbf | head -1 | grep -qx 'Num,Date,Chan1,Chan2,Chan3,Chan4'
lorvan-netfile "$P" 1 plant.ini 1:115200 2:19200 5:9600
lorvan-cli netfile plant.ini | grep -c $'\t1\t5\t9600\t' | grep -q 1
lorvan-cli programs --port "$P" --addr 1 -o furnace.prg >/dev/null
lorvan-cli programs furnace.prg | grep -q '^program'
lorvan-cli snapshot --port "$P" --addr 1 -o furnace.txt
lorvan-cli compare furnace.txt --port "$P" --addr 1
lorvan-cli restore furnace.txt --port "$P" --addr 1 --yes
status=0
lorvan-cli compare furnace.txt --port "$P" --addr 2 >/dev/null 2>&1 || status=$?
[ "$status" -eq 65 ] || fail "a snapshot of another variant was not refused ($status)"
step "The logging service's user, configuration and program"
id -nG lorvan | tr ' ' '\n' | grep -qx dialout || fail "the service's user is not in dialout"
[ "$(stat -c '%a %U %G' /etc/lorvan/logger.conf)" = "640 root lorvan" ] ||
    fail "/etc/lorvan/logger.conf is $(stat -c '%a %U %G' /etc/lorvan/logger.conf)"
LORVAN_HOME="$run/logged" lorvan-netfile "$P" 1 logged.ini 1:115200:1
LORVAN_HOME="$run/logged" lorvan-logger logged.ini 2>logger.log &
logger=$!
sleep 2.5
kill -TERM $logger
wait $logger || { cat logger.log; fail "lorvan-logger did not end cleanly on SIGTERM"; }
[ "$(lorvan-cli table logged/ArcData1.dbf | wc -l)" -ge 3 ] || { cat logger.log; fail "lorvan-logger wrote no rows"; }
step "Package installed on a clean machine; both programs, lorvan-cli and lorvan-logger work"
