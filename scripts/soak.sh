#!/usr/bin/env bash
# Polls eight simulated devices on two lines with mixed faults for LORVAN_SOAK_SECONDS (default
# 120; longer runs are fine), then checks the tables row by row against the simulator's replies
# and that the process's memory did not grow.
# Usage: soak.sh [BUILD-DIR]   (a configured build folder; default build)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
cmake --build "$build" -j2 --target tst_pollingsoak
LORVAN_SOAK_SECONDS="${LORVAN_SOAK_SECONDS:-120}" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 \
    "$build/tests/workstation/tst_pollingsoak"
