#!/usr/bin/env bash
# Starts a private PulseAudio daemon with a null sink for the tests that need sound, unless one
# already answers. Prints the variables the tests need.
set -euo pipefail
if pactl info >/dev/null 2>&1; then exit 0; fi
runtime="${XDG_RUNTIME_DIR:-/tmp/velmo-pulse-$(id -u)}"
mkdir -p "$runtime" && chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit --disable-shm=yes \
  -n --load="module-native-protocol-unix" --load="module-null-sink sink_name=velmo_null" \
  --log-target=stderr 2>/dev/null || true
for _ in $(seq 1 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start" >&2; exit 1; }
pactl set-default-sink velmo_null
