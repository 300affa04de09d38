#!/usr/bin/env bash
# The main job: builds the library. The demo game and the local tracking
# service it reports to are not part of the tree yet; once they are, this
# command starts the service, runs the demo against it and shows what arrived.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake -S . -B build -G Ninja
cmake --build build --target corvex_tracking
echo "Built $(ls build/src/libcorvex_tracking.so*| head -n 1)."
echo "The demo against a local tracking service will run here once it exists."
