#!/usr/bin/env bash
# The real program under a virtual X server: Load Directory, start-up, Exit, memory and CPU while
# playing, each against a reference measured in the same run (bench/window_bench.py). Builds the
# release program with the in-process benchmarks; extra arguments go to the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-setup.sh
exec python3 bench/window_bench.py --velmo build/release/bin/velmo "$@"
