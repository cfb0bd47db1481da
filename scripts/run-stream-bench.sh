#!/usr/bin/env bash
# Internet radio in the real program under a virtual X server, against mpg123 on the same
# address of the test radio station (bench/stream_bench.py). Builds the release program; extra
# arguments go to the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
source scripts/bench-setup.sh
radio_dir=$(mktemp -d /tmp/velmo-radio.XXXXXX)
trap 'scripts/start-radio-server.sh --stop "$radio_dir"' EXIT
scripts/start-radio-server.sh "$radio_dir"
VELMO_TEST_RADIO=$(cat "$radio_dir/url") python3 bench/stream_bench.py --velmo build/release/bin/velmo "$@"
