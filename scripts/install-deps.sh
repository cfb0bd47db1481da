#!/usr/bin/env bash
# Installs the Debian packages Velmo needs to build, run and test; only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev libmpg123-dev libpulse-dev libcurl4-openssl-dev
  libfaad-dev libvorbis-dev libogg-dev
  libgtest-dev libbenchmark-dev
)
if [[ "${1:-}" == "--test" ]]; then
  # mpg123: the reference player of the playback benchmark. icecast2 and curl: the test radio
  # station, fed by ffmpeg.
  packages+=(clang libclang-rt-14-dev pulseaudio pulseaudio-utils ffmpeg lame procps mpg123
    icecast2 curl)
  # The notification-area icon test: a virtual X server, a notification-area host on it, real
  # pointer and key events, and the X protocol library the test finds windows with.
  packages+=(xvfb trayer xdotool libxcb1-dev)
  # A private session bus for the desktop-bus tests, and the desktop entry's checker.
  packages+=(dbus-daemon desktop-file-utils)
fi
if [[ "${1:-}" == "--bench" ]]; then
  # The window benchmark drives the real program under a virtual X server.
  packages+=(pulseaudio pulseaudio-utils ffmpeg mpg123 python3 xvfb xdotool findutils)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO apt-get update -qq
  # icecast2 starts its system service on install, which needs an init system and a free port
  # 8000; the tests run a station of their own. Deny service starts for this install unless the
  # machine already has a policy of its own.
  policy=/usr/sbin/policy-rc.d
  if [[ ! -e $policy ]]; then
    printf "#!/bin/sh\nexit 101\n" | $SUDO tee $policy >/dev/null
    $SUDO chmod 755 $policy
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  # Through env: sudo drops the caller's environment, and with it the answer-nothing front end.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
fi
