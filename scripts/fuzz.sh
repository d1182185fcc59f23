#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (build-fuzz) and runs each for a bounded time,
# starting from its seed corpus in tests/fuzz/corpus. New inputs go to build-fuzz/corpus, a crashing
# input to build-fuzz/artifacts. Any crash, sanitizer report or failed check fails the run.
# Usage: scripts/fuzz.sh [target]...   (every target when none is given); FUZZ_SECONDS per target (60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(FuzzIIDFromString FuzzUtilText FuzzBuildProfilerSet)

# libFuzzer's runtime comes with the compiler-rt package of the installed clang.
command -v clang++ >/dev/null || { apt-get update -qq && apt-get install -y -qq --no-install-recommends clang; }
major=$(clang++ -dumpversion | cut -d. -f1)
if ! dpkg-query -W -f='${Status}' "libclang-rt-$major-dev" 2>/dev/null | grep -q "install ok installed"; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "libclang-rt-$major-dev"
fi

start=$SECONDS
cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "fuzz: build $((SECONDS - start)) s"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
passed=0
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/artifacts"
  echo "fuzz: $target for $seconds s"
  if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$target" "$root/tests/fuzz/corpus/$target" \
      >"$build/$target.log" 2>&1; then
    passed=$((passed + 1))
    grep -E "^stat::number_of_executed_units|^Done " "$build/$target.log" || true
  else
    failed=$((failed + 1))
    echo "fuzz: $target FAILED, its output:" >&2
    tail -n 60 "$build/$target.log" >&2
  fi
done
echo "fuzz: build and runs took $((SECONDS - start)) s"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
