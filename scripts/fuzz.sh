#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (in build-fuzz, or $LORVAN_FUZZ_BUILD_DIR) and
# runs each for SECONDS (default 60), two at a time. The kept corpus under tests/fuzz/corpus seeds
# each run and is only read; inputs found on the way stay in the build folder. A crash leaves its
# input in <build>/fuzz-artifacts and fails the script: copy it into the target's corpus folder,
# where the ordinary build replays it as a test, once the reader is mended.
#
# Usage: fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${LORVAN_FUZZ_BUILD_DIR:-$top/build-fuzz}"
jobs="${LORVAN_FUZZ_JOBS:-2}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reply fuzz_networkfile fuzz_programfile fuzz_archive
    fuzz_measurementtable fuzz_receivebuffer fuzz_devsimframing)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Asserts stay on (no NDEBUG); line tables are enough for the sanitizers' stacks.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DLORVAN_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"
run_one() {
    local target="$1" seconds="$2" build="$3" top="$4"
    local found="$build/fuzz-found/$target"
    mkdir -p "$found"
    # ASan's leak check stays on; Qt's own one-time allocations are not leaks of ours.
    LSAN_OPTIONS="suppressions=$top/tests/lsan.supp" QT_QPA_PLATFORM=offscreen \
        "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$found" "$top/tests/fuzz/corpus/$target" >"$build/fuzz-logs/$target.log" 2>&1
}
export -f run_one
status=0
printf '%s\n' "${targets[@]}" |
    xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build" "$top" || status=$?

for target in "${targets[@]}"; do
    log="$build/fuzz-logs/$target.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    # A unit slower than the report threshold is kept and named but is no finding: the timeout
    # (an ERROR) is what marks a hang. On a cold, loaded machine one first call can take seconds.
    slow=$(grep -c 'Test unit written to .*/[^/]*slow-unit-' "$log" || true)
    if grep -q -E '^==[0-9]+==ERROR|^SUMMARY: |deadly signal|Test unit written to .*-(crash|leak|timeout|oom)-' "$log"; then
        echo "$target: FAILED after ${runs:-?} executions (log: $log)"
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
        status=1
    else
        echo "$target: ${runs:-?} executions in $seconds s, no finding"
        [ "$slow" -eq 0 ] || grep -E 'Slowest unit|slow-unit-' "$log" | head -3
    fi
done
exit "$status"
