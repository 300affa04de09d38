#!/usr/bin/env bash
# The main job: installs what is missing, builds the library, the demo game
# and the local tracking service (corvex-collector), starts the service in the
# background on a free port with a fresh data folder, runs the demo against
# it, prints the table of what arrived with the totals, and stops the service.
# Exits non-zero when an event the demo tracked did not arrive.
# Builds in build/ (tools/build-folder.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

build_dir="$(build_folder)"
user=demo-app
password=demo-secret

tools/setup.sh
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" --target corvex_tracking corvex-demo-game corvex-collector

collector="$build_dir/tools/collector/corvex-collector"
work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-demo.XXXXXX")"
collector_pid=""
stop_collector() {
  if [ -n "$collector_pid" ]; then
    kill "$collector_pid" 2>/dev/null || true
    wait "$collector_pid" 2>/dev/null || true
    collector_pid=""
  fi
}
trap 'stop_collector; rm -rf "$work"' EXIT

"$collector" serve --port 0 --data "$work/data" --user "$user" --password "$password" \
  >"$work/collector.log" 2>&1 &
collector_pid=$!
url=""
for _ in $(seq 1 200); do
  url="$(sed -n 's/^corvex-collector listening on //p' "$work/collector.log")"
  if [ -n "$url" ] || ! kill -0 "$collector_pid" 2>/dev/null; then break; fi
  sleep 0.05
done
if [ -z "$url" ]; then
  echo "The collector did not start:" >&2
  cat "$work/collector.log" >&2
  exit 1
fi
echo "== The collector listens on $url"
echo
echo "== The demo game"
"$build_dir/examples/corvex-demo-game" --proxy "$url" --ca "$work/data/ca.pem" \
  --save "$work/save" --user "$user" --password "$password" | tee "$work/demo.out"
tracked="$(sed -n 's/^tracked \([0-9][0-9]*\) events$/\1/p' "$work/demo.out")"

echo
echo "== What the collector received"
"$collector" events --data "$work/data"
echo
"$collector" stats --data "$work/data"
totals="$("$collector" stats --data "$work/data" --json)"
stop_collector

# The totals come before the per-name list in the JSON object.
totals="${totals%%\"names\"*}"
delivered="$(sed -n 's/.*"events":\([0-9][0-9]*\).*/\1/p' <<<"$totals")"
duplicates="$(sed -n 's/.*"duplicates":\([0-9][0-9]*\).*/\1/p' <<<"$totals")"
echo
echo "== tracked ${tracked:-?}, delivered ${delivered:-?}, duplicates ${duplicates:-?}"
if [ -z "$tracked" ] || [ -z "$delivered" ] || [ "$delivered" -lt "$tracked" ]; then
  echo "Some events the demo tracked did not arrive." >&2
  echo "The collector's log:" >&2
  cat "$work/collector.log" >&2
  exit 1
fi
echo "Every event the demo tracked arrived."
echo "To watch events live: $collector serve, then open http://127.0.0.1:8470/"
