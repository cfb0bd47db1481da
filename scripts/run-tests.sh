#!/usr/bin/env bash
# Installs what is missing, starts the sound server, builds the normal and the sanitizer
# configurations and the fuzz targets, runs the fuzzers for a bounded time, starts the test radio
# station and runs every test.
# The last line printed is ctest's summary of the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/velmo-runtime-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
scripts/start-sound-server.sh

jobs=$(nproc)
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMO_BENCH=ON >/dev/null
cmake --build build/debug -j "$jobs"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMO_SANITIZE=ON -DVELMO_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_FUZZ=ON \
  -DVELMO_TESTS=OFF -DVELMO_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target velmo_fuzzers

scripts/run-fuzzers.sh build/fuzz "${VELMO_FUZZ_SECONDS:-30}"

# The test radio station runs for the tests only, and is stopped however the run ends.
radio_dir=$(mktemp -d /tmp/velmo-radio.XXXXXX)
trap 'scripts/start-radio-server.sh --stop "$radio_dir"' EXIT
scripts/start-radio-server.sh "$radio_dir"
VELMO_TEST_RADIO=$(cat "$radio_dir/url")
export VELMO_TEST_RADIO

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
passed=0
failed=0
for build in build/asan build/debug; do
  echo "== tests of $build =="
  log=$(mktemp)
  ctest --test-dir "$build" --output-on-failure -j 2 2>&1 | tee "$log" || status=1
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [[ -z "$summary" ]]; then status=1; continue; fi
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
  t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
  passed=$((passed + t - f))
  failed=$((failed + f))
done
((failed == 0)) || status=1
echo "ctest: $passed passed, $failed failed"
exit $status
