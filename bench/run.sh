#!/usr/bin/env bash
# Builds the programs in release mode and runs every benchmark, printing one table: what was
# measured, the floor or baseline it is set against, their ratio and the goal for the ratio.
#   bench/run.sh          the full run (about seven minutes)
#   bench/run.sh quick    fewer rounds and shorter samples (about two minutes)
#   bench/run.sh giveup   how long the link waits for a silent device, as before
# LORVAN_BENCH_BUILD_DIR chooses the build folder (default build-bench beside the sources).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BENCH_BUILD_DIR:-$top/build-bench}"
mode="${1:-full}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target lorvan-linkbench lorvan-tablebench lorvan-startbench \
    lorvan-barewindow lorvan-plainwindow lorvan-devsim LorvanConf LorvanModbusTest lorvandriver \
    lorvan-loggerbench lorvan-logger lorvan-netfile >/dev/null

if [ "$mode" = giveup ]; then
    exec timeout 120 "$build/bench/lorvan-linkbench" giveup "${2:-5}"
fi
case "$mode" in
quick) rounds=5 records=100 starts=5 sample=15 table=10 logged=8 ;;
*) rounds=15 records=600 starts=11 sample=60 table=40 logged=30 ;;
esac

log="$build/bench.log"
: >"$log"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-46s %12s %12s %7s %7s\n' benchmark measured "floor/base" ratio goal
timeout 300 "$build/bench/lorvan-linkbench" "$rounds" "$records" 2>>"$log"
timeout 120 "$build/bench/lorvan-tablebench" "$table" 2>>"$log"
timeout 400 "$build/bench/lorvan-startbench" "$build" "$starts" "$sample" 2>>"$log"
timeout 300 "$build/bench/lorvan-loggerbench" "$logged" 2>>"$log"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
