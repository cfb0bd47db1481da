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
  # mpg123: the reference player of the playback benchmark.
  packages+=(clang libclang-rt-14-dev pulseaudio pulseaudio-utils ffmpeg lame procps mpg123)
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
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
