#!/usr/bin/env bash
# Main job: installs what is missing, builds the library, the test target profiler and the test program,
# then runs the program under the multiplexer with two instances of the test target (different event
# masks and priorities), checks the run and shows where the log and the targets' records are and what
# each target received.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target TarnixClrProfilerMultiplexer e2e_test_target e2e_app
python3 "$root/tests/e2e/run_scenario.py" --show \
    --app "$build/e2e/app/App.dll" \
    --multiplexer "$build/TarnixClrProfilerMultiplexer.so" \
    --target "$build/e2e/e2e_test_target.so" \
    --work "$build/e2e/main" \
    two_targets
