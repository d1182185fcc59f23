#!/usr/bin/env bash
# Builds the library, its test target libraries and the unit tests under AddressSanitizer with
# UndefinedBehaviorSanitizer (build-asan) and under ThreadSanitizer (build-tsan), and runs the unit tests
# with ctest in each. Any finding fails the run: every sanitizer halts on its first report.
# Usage: scripts/sanitizers.sh [address|thread]...   (both, in that order, when none is given)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)

# No suppressions: a report is either a fault to fix or a test to correct.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:detect_deadlocks=1:second_deadlock_stack=1"

for kind in "${kinds[@]}"; do
  case "$kind" in
    address) build=$root/build-asan ;;
    thread) build=$root/build-tsan ;;
    *) echo "unknown sanitizer: $kind (address or thread)" >&2; exit 2 ;;
  esac
  start=$SECONDS
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPM_SANITIZE="$kind" >/dev/null
  cmake --build "$build" -j"$jobs"
  built=$SECONDS
  (cd "$build" && ctest --output-on-failure -j"$jobs")
  echo "sanitizers: $kind build $((built - start)) s, tests $((SECONDS - built)) s"
done
