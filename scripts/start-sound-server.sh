#!/usr/bin/env bash
# Starts a private PulseAudio daemon with a null sink for the tests that need sound, unless one
# already answers. Prints the variables the tests need.
set -euo pipefail

# A null sink that nobody listens to renders up to two seconds of silence ahead, so a new
# stream is heard only after that. A sound card does not: it takes new streams within its
# latency. A reader of the sink's monitor that asks for a short latency makes the null sink
# behave the same way.
keep_sink_responsive() {
  local pidfile="${XDG_RUNTIME_DIR:-/tmp}/velmo-monitor-reader.pid"
  if [[ -f "$pidfile" ]] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then return; fi
  pactl list short sinks 2>/dev/null | grep -q velmo_null || return 0
  setsid parec -d velmo_null.monitor --latency-msec=20 --format=s16le --rate=44100 \
    --channels=2 >/dev/null 2>&1 </dev/null &
  echo $! >"$pidfile"
}

if pactl info >/dev/null 2>&1; then
  keep_sink_responsive
  exit 0
fi
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
keep_sink_responsive
