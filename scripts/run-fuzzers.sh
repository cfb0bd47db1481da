#!/usr/bin/env bash
# Runs every fuzz target in a build folder for a bounded time each, from its seed corpus.
set -euo pipefail
build="$1"
seconds="${2:-30}"
cd "$(dirname "$0")/.."
for fuzzer in "$build"/fuzz/fuzz_*; do
  [[ -f "$fuzzer" && -x "$fuzzer" ]] || continue
  name=$(basename "$fuzzer")
  corpus=$(mktemp -d)
  [[ -d "fuzz/corpus_${name#fuzz_}" ]] && cp -r "fuzz/corpus_${name#fuzz_}/." "$corpus/"
  echo "== $name for ${seconds}s =="
  log=$(mktemp)
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name found a failure" >&2
    rm -rf "$corpus" "$log"
    exit 1
  fi
  tail -n 2 "$log"
  rm -rf "$corpus" "$log"
done
