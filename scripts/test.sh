#!/usr/bin/env bash
# Installs what is missing, builds the library, its test targets and the test program, and runs every test;
# then the unit tests under the sanitizers and the fuzz targets for a bounded time.
# PM_QUICK=1 stops after the plain run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
start=$SECONDS
"$root/scripts/install-deps.sh"
# Rebuilds of unchanged sources, also in a fresh clone, come from the compiler cache.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j"$(nproc)" "$@")
echo "test.sh: plain build and tests $((SECONDS - start)) s"
[ "${PM_QUICK:-0}" = 1 ] && exit 0

start=$SECONDS
"$root/scripts/sanitizers.sh"
echo "test.sh: sanitizer builds and tests $((SECONDS - start)) s"
# Last, so that its summary ("fuzz: N passed, N failed") closes the output.
"$root/scripts/fuzz.sh"
