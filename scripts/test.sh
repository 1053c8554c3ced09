#!/usr/bin/env bash
# Installs what is missing, builds everything, proves that scripts/packages.txt names all that the
# build, the programs and the tests use, and runs the whole test suite; then the same suite under
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, every fuzz target for a bounded
# time, the polling soak and the logging service's soak.
#
# LORVAN_TEST_QUICK=1 runs only the first part (build and suite). LORVAN_FUZZ_SECONDS (default 60),
# LORVAN_SOAK_SECONDS (default 120) and LORVAN_LOGGER_SOAK_SECONDS (default 60) bound the later
# steps.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
start=$SECONDS
step() { echo "== [$((SECONDS - start)) s] $*"; }
failed=()

step "Installing missing packages (scripts/packages.txt)"
bash "$top/scripts/install-deps.sh"
step "Building in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
step "Checking that the package list covers what the build, the programs and the tests use"
deps=0
/usr/bin/python3 "$top/scripts/check-deps.py" --build "$build" || deps=$?
[ "$deps" -eq 0 ] || failed+=("package list (check-deps above)")
step "Running the tests"
# The tests run even when the list is incomplete, so that what a missing package breaks is named.
(cd "$build" && ctest --output-on-failure -j2 --timeout 600) || failed+=("tests")

if [ "${LORVAN_TEST_QUICK:-0}" != 1 ]; then
    sanitized="$build-sanitize"
    step "Building with ASan, UBSan and LSan in $sanitized"
    # -O1 and line tables only: a third less build time, and stacks still name every line.
    cmake -S "$top" -B "$sanitized" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORVAN_SANITIZE=ON \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
    cmake --build "$sanitized" -j2
    step "Running the tests under the sanitizers"
    # Full stacks on every allocation: Qt's libraries have no frame pointers, and the leak
    # suppressions name the library a leak comes from, which a fast unwind never reaches. The
    # dependency check has run above, on the same sources.
    (cd "$sanitized" &&
        ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:strict_string_checks=1 \
        LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0" \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j2 --timeout 900 -E '^deps_check$') ||
        failed+=("sanitizer tests")

    step "Fuzzing every target for ${LORVAN_FUZZ_SECONDS:-60} s, two at a time"
    LORVAN_FUZZ_BUILD_DIR="$build-fuzz" bash "$top/scripts/fuzz.sh" "${LORVAN_FUZZ_SECONDS:-60}" ||
        failed+=("fuzzing")

    step "Polling soak for ${LORVAN_SOAK_SECONDS:-120} s"
    LORVAN_SOAK_SECONDS="${LORVAN_SOAK_SECONDS:-120}" bash "$top/scripts/soak.sh" "$build" ||
        failed+=("soak")

    step "Logging service soak for ${LORVAN_LOGGER_SOAK_SECONDS:-60} s: 32 devices on 4 lines"
    (cmake --build "$build" -j2 --target lorvan-loggerbench &&
        "$build/bench/lorvan-loggerbench" soak "${LORVAN_LOGGER_SOAK_SECONDS:-60}") ||
        failed+=("logger soak")
fi

step "Done"
if [ ${#failed[@]} -gt 0 ]; then
    printf 'test.sh: failed: %s\n' "${failed[@]}" >&2
    [ "$deps" -eq 0 ] || exit "$deps"
    exit 1
fi
