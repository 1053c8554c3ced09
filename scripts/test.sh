#!/usr/bin/env bash
# Installs what is missing, builds everything, proves that scripts/packages.txt names all that the
# build, the programs and the tests use, and runs the whole test suite.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${LORVAN_BUILD_DIR:-$top/build}"

echo "== Installing missing packages (scripts/packages.txt)"
bash "$top/scripts/install-deps.sh"
echo "== Building in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
echo "== Checking that the package list covers what the build uses"
/usr/bin/python3 "$top/scripts/check-deps.py" --build "$build"
echo "== Running the tests"
cd "$build"
ctest --output-on-failure -j2 --timeout 600
