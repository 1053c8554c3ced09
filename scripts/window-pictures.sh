#!/usr/bin/env bash
# Pictures of every window of both programs at its own size, and the layout check over them:
# builds the check, runs it without a display and keeps the pictures in OUTDIR. Exits non-zero
# and lists the faults when a text is cut or a control lies outside its window or over another.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
out="$(mkdir -p "$1" && cd "$1" && pwd)"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target lorvan-windowpictures
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$build/windowcheck/lorvan-windowpictures" "$out"
