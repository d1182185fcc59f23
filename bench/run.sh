#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench) and runs them all: the micro-benchmarks, their
# instruction counts under callgrind, and the real-runtime comparisons (the benchmark program and an
# incremental dotnet build of a small project); then prints the report.
# Results go to build-bench/bench/results/. Not part of the tests.
#   bench/run.sh            (RUNS=11 real-runtime runs per configuration by default, RUNS_BUILD=5 for the
#                            incremental dotnet build of bench/realruntime/BuildProject)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
results=$build/bench/results
runs=${RUNS:-11}
runs_build=${RUNS_BUILD:-5}

bash "$root/scripts/install-deps.sh"
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
fi

cmake -S "$root" -B "$build" -DPM_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target pm_bench bench_rewriting_target bench_app TarnixClrProfilerMultiplexer
rm -rf "$results" && mkdir -p "$results/callgrind"
bench=$build/bench/pm_bench

echo "== micro-benchmarks"
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/micro.json" --benchmark_out_format=json

echo "== instruction counts (callgrind)"
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$results/callgrind/out" \
  "$bench" --instructions 10000 2>"$results/callgrind/valgrind.log"

echo "== real runtime"
python3 "$root/bench/realruntime/run_realruntime.py" --app "$build/bench/app/BenchApp.dll" \
  --multiplexer "$build/TarnixClrProfilerMultiplexer.so" --target "$build/bench/bench_rewriting_target.so" \
  --work "$results/realruntime" --runs "$runs" --configs a,b,c,d,bf,cf --json "$results/realruntime.json" >/dev/null

echo "== real runtime: memory kept per round of load, call and unload of a collectible assembly"
python3 "$root/bench/realruntime/run_realruntime.py" --workload rounds --app "$build/bench/app/BenchApp.dll" \
  --multiplexer "$build/TarnixClrProfilerMultiplexer.so" --target "$build/bench/bench_rewriting_target.so" \
  --work "$results/realruntime-rounds" --runs 3 --configs b,d --json "$results/realruntime-rounds.json" \
  | grep -E '"(what|kept_per_round)"'

echo "== real runtime: dotnet build"
python3 "$root/bench/realruntime/run_realruntime.py" --workload build \
  --project "$root/bench/realruntime/BuildProject/BuildProject.csproj" \
  --multiplexer "$build/TarnixClrProfilerMultiplexer.so" --target "$build/bench/bench_rewriting_target.so" \
  --work "$results/realruntime-build" --runs "$runs_build" --configs a,b,c,d \
  --json "$results/realruntime-build.json" >/dev/null

python3 "$root/bench/report.py" --micro "$results/micro.json" --callgrind "$results/callgrind" \
  --realruntime "$results/realruntime.json" --realruntime-build "$results/realruntime-build.json" \
  | tee "$results/report.md"
