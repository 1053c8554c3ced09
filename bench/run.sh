#!/usr/bin/env bash
# Builds and runs the link timing bench against the simulated plant, bounded to two minutes.
# "run.sh giveup [ROUNDS]" times how long the link waits for a silent device instead.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target lorvan-linkbench >/dev/null
timeout 120 "$build/bench/lorvan-linkbench" "${@:-10}"
