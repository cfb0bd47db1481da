#!/usr/bin/env bash
# Runs every fuzz target in a build folder for a bounded time each, from its seed corpus.
set -euo pipefail
build="$1"
seconds="${2:-30}"
cd "$(dirname "$0")/.."
for fuzzer in "$build"/fuzz/fuzz_*; do
  [[ -x "$fuzzer" ]] || continue
  name=$(basename "$fuzzer")
  corpus=$(mktemp -d)
  [[ -d "fuzz/corpus_${name#fuzz_}" ]] && cp -r "fuzz/corpus_${name#fuzz_}/." "$corpus/"
  echo "== $name for ${seconds}s =="
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
done
