#!/usr/bin/env bash
# Installs what is missing, builds Velmo and starts it. The program lands in build/release/bin/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_TESTS=OFF -DVELMO_BENCH=OFF >/dev/null
cmake --build build/release --target velmo
exec build/release/bin/velmo "$@"
