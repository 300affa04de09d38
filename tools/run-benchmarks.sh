#!/usr/bin/env bash
# Builds and runs the benchmarks (docs/performance.md explains the figures):
#   tools/run-benchmarks.sh                               every benchmark, 5 repetitions
#   BENCH_REPETITIONS=1 tools/run-benchmarks.sh           one quick pass
#   tools/run-benchmarks.sh --benchmark_filter=TrackCall  any Google Benchmark option
# Prints the medians of the repetitions and a closing summary with the ratios
# against the baselines and the targets; the full results go to
# build-bench/benchmarks.json (tools/build-folder.sh). Takes about three
# minutes with 5 repetitions.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

build_dir="$(build_folder bench)"
tools/setup.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target corvex_benchmarks
exec "$build_dir/bench/corvex_benchmarks" \
  --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$build_dir/benchmarks.json" --benchmark_out_format=json \
  "$@"
