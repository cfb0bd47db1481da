#!/usr/bin/env bash
# The real program under a virtual X server: Load Directory, start-up, Exit, memory and CPU while
# playing, each against a reference measured in the same run (bench/window_bench.py). Builds the
# release program with the in-process benchmarks; extra arguments go to the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_TESTS=OFF -DVELMO_BENCH=ON >/dev/null
cmake --build build/release
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/velmo-pulse-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
scripts/start-sound-server.sh
exec python3 bench/window_bench.py --velmo build/release/bin/velmo "$@"
