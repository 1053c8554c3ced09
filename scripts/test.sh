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
/usr/bin/python3 "$top/scripts/check-deps.py" --build "$build" --trace
step "Running the tests"
cd "$build"
exec ctest --output-on-failure -j2 --timeout 600
