#!/usr/bin/env bash
# Pictures of both programs' windows for the README, taken from the real programs on a virtual
# display against the simulated demo plant (as scripts/run-demo.sh starts it): the tests' driver
# plug-in shows each window in turn, reads its settings from the device and saves it.
# Run it again whenever a window changes. Usage: screenshots.sh [OUTPUT-FOLDER]
# (default docs/screenshots). Needs xvfb and xauth (scripts/packages.txt); optipng, when it can
# be installed, makes the pictures smaller.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
out="$(mkdir -p "${1:-$top/docs/screenshots}" && cd "${1:-$top/docs/screenshots}" && pwd)"

if ! command -v optipng >/dev/null && [ "$(id -u)" -eq 0 ]; then
    echo "== Installing optipng for this script only"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends optipng >/dev/null ||
        echo "screenshots: optipng not installed; pictures stay as Qt writes them"
fi
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run missing (bash scripts/install-deps.sh)" >&2; exit 1; }

echo "== Building the programs, the simulator and the driver plug-in in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target LorvanConf LorvanModbusTest lorvan-devsim lorvan-netfile lorvandriver

run="$(mktemp -d "${TMPDIR:-/tmp}/lorvan-shots.XXXXXX")"
# Settings and tables of this run only: the user's own stay untouched.
export LORVAN_PORT_DIR="$run/ports" XDG_CONFIG_HOME="$run/config" LORVAN_HOME="$run/data"
"$build/devsim/lorvan-devsim" --port-dir "$LORVAN_PORT_DIR" --log "$run/devsim.log" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -rf "$run"' EXIT
for _ in $(seq 50); do [ -e "$LORVAN_PORT_DIR/COM1" ] && break; sleep 0.1; done
# The demo's plant in the tree from the start, as run-demo.sh sets it up.
"$build/cli/lorvan-netfile" "$LORVAN_PORT_DIR/COM1" 1 "$run/plant.ini" 1:115200 2:19200 5:9600
mkdir -p "$XDG_CONFIG_HOME/Nordak"
printf '[General]\nReadOnLoad=1\nTreeFile=%s\n' "$run/plant.ini" >"$XDG_CONFIG_HOME/Nordak/LorvanConf.ini"

export QT_QPA_PLATFORM=xcb QT_QPA_GENERIC_PLUGINS=lorvandriver QT_PLUGIN_PATH="$build/tests/plugins"
export LORVAN_DRIVE=shots LORVAN_SHOT_DIR="$out"
for program in app/LorvanConf testtool/LorvanModbusTest; do
    echo "== Pictures of $(basename "$program")"
    xvfb-run -a -s "-screen 0 1280x1024x24" timeout 180 "$build/$program" 2>&1 | grep '^driver: shot' || true
done
if command -v optipng >/dev/null; then
    optipng -quiet -o2 "$out"/*.png
fi
ls -l "$out"
