#!/usr/bin/env bash
# Installs what is missing, builds everything, proves that scripts/packages.txt names all that the
# build, the programs and the tests use, and runs the whole test suite.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"
start=$SECONDS
step() { echo "== [$((SECONDS - start)) s] $*"; }

step "Installing missing packages (scripts/packages.txt)"
bash "$top/scripts/install-deps.sh"
step "Building in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
step "Checking that the package list covers what the build, the programs and the tests use"
deps=0
/usr/bin/python3 "$top/scripts/check-deps.py" --build "$build" --trace || deps=$?
step "Running the tests"
cd "$build"
if [ "$deps" -eq 0 ]; then
    exec ctest --output-on-failure -j2 --timeout 600
fi
# The tests still run, so that what a missing package breaks is named by the failing tests.
ctest --output-on-failure -j2 --timeout 600 || true
echo "test.sh: the package list is incomplete (check-deps above); failing" >&2
exit "$deps"
