#!/usr/bin/env bash
# The configurator against the simulated demo plant: installs what is missing, builds, checks the
# package list, starts the device simulator with its default network on a private port folder,
# runs LorvanConf on those lines and stops the simulator when LorvanConf exits.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"

echo "== Installing missing packages (scripts/packages.txt)"
bash "$top/scripts/install-deps.sh"
echo "== Building LorvanConf and the device simulator in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target LorvanConf lorvan-devsim lorvan-netfile
echo "== Checking that the package list covers what the build uses"
/usr/bin/python3 "$top/scripts/check-deps.py" --build "$build"

run="$(mktemp -d "${TMPDIR:-/tmp}/lorvan-demo.XXXXXX")"
export LORVAN_PORT_DIR="$run/ports"
echo "== Starting the device simulator (log: $run/devsim.log)"
"$build/devsim/lorvan-devsim" --port-dir "$LORVAN_PORT_DIR" --log "$run/devsim.log" &
sim=$!
cleanup() {
    echo "== Stopping the device simulator"
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT

# The simulator publishes its lines once its pseudo-terminals are up.
for _ in $(seq 50); do
    [ -e "$LORVAN_PORT_DIR/COM1" ] && break
    kill -0 "$sim" 2>/dev/null || { echo "lorvan-devsim did not start" >&2; exit 1; }
    sleep 0.1
done
echo "Simulated plant on $LORVAN_PORT_DIR/COM1 (addresses 1, 2 and 5); its traffic on $LORVAN_PORT_DIR/COM1-monitor"

# A ready network file of the plant, reloaded at start under the demo's own settings, so the three
# devices are in the tree without a scan. LORVAN_DEMO_SCAN=1 starts with an empty tree instead.
if [ "${LORVAN_DEMO_SCAN:-0}" != 1 ]; then
    export XDG_CONFIG_HOME="$run/config"
    "$build/cli/lorvan-netfile" "$LORVAN_PORT_DIR/COM1" 1 "$run/plant.ini" 1:115200 2:19200 5:9600
    mkdir -p "$XDG_CONFIG_HOME/Nordak"
    printf '[General]\nReadOnLoad=1\nTreeFile=%s\n' "$run/plant.ini" >"$XDG_CONFIG_HOME/Nordak/LorvanConf.ini"
fi
echo "== Starting LorvanConf"
"$build/app/LorvanConf" "$@"
