#!/usr/bin/env bash
# The fault-injection soak: the standalone test service answers with a random
# mix of success, 5xx, 429, 4xx, dropped connections and stalls past the
# client's time-out, while the soak host is killed with SIGKILL at random
# moments and started again on the same save folder. Fails unless every
# accepted event was delivered, unaltered, and every duplicate is explained.
#   tools/run-soak.sh short [SEED]   20000 events, 20 kills (about 2-3 minutes; CI)
#   tools/run-soak.sh long [SEED]    300000 events, 300 kills (about half an hour)
# Builds in build/ (tools/build-folder.sh). The figures are printed and
# written to build/soak-<setting>.json; the work folder build/soak-<setting>/
# keeps the logs, the script and the service output.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

setting="${1:-short}"
seed="${2:-$(date +%s)}"
case "$setting" in
  short) events=20000 kills=20 ;;
  long) events=300000 kills=300 ;;
  *) echo "usage: tools/run-soak.sh short|long [SEED]" >&2; exit 2 ;;
esac

build_dir="$(build_folder)"
tools/setup.sh
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" --target corvex-soak corvex-soak-host corvex-test-service

work="$build_dir/soak-$setting"
echo "run-soak: $setting, seed $seed, work folder $work"
"$build_dir/tests/reliability/corvex-soak" \
  --service "$build_dir/tests/support/corvex-test-service" \
  --host "$build_dir/tests/reliability/corvex-soak-host" \
  --work "$work" --events "$events" --kills "$kills" --seed "$seed" \
  --report "$work.json"
