#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/
# (tools/build-folder.sh) and runs each for a bounded time. Fails on any
# finding; the input that caused it is kept in build-fuzz/findings/<target>/.
#   tools/run-fuzzers.sh          60 seconds per target
#   tools/run-fuzzers.sh 300      300 seconds per target
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

seconds="${1:-60}"
build_dir="$(build_folder fuzz)"
fuzzers=(event_queue_file_fuzz tracking_event_fuzz properties_file_fuzz custom_json_fuzz
  text_exports_fuzz)

tools/setup.sh
if ! command -v clang++ >/dev/null 2>&1; then
  echo "run-fuzzers: clang++ is missing (Debian packages clang and libclang-rt-dev)" >&2
  exit 1
fi

# The libraries get coverage instrumentation; each target links libFuzzer.
cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCORVEX_SANITIZE=address -DCORVEX_FUZZ=ON \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
cmake --build "$build_dir" --target "${fuzzers[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
for fuzzer in "${fuzzers[@]}"; do
  binary="$(find "$build_dir" -type f -name "$fuzzer" -perm -u+x | head -n 1)"
  corpus="$build_dir/corpus/$fuzzer"
  findings="$build_dir/findings/$fuzzer"
  mkdir -p "$corpus" "$findings"
  # Checked-in starting inputs, read but never written.
  seeds="tests/fuzz/seeds/$fuzzer"
  [ -d "$seeds" ] || seeds=""
  echo "run-fuzzers: $fuzzer for ${seconds} s"
  # A single input that runs for more than 30 s counts as a hang. Inputs up to
  # 16 KiB leave room for whole files of a few rings' length.
  "$binary" -max_total_time="$seconds" -timeout=30 -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" ${seeds:+"$seeds"}
done
