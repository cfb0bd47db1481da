# Sourced by the benchmark commands: installs what they need, builds the release program with the
# in-process benchmarks, and starts the sound server.
scripts/install-deps.sh --bench
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_TESTS=OFF -DVELMO_BENCH=ON >/dev/null
cmake --build build/release
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/velmo-pulse-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
scripts/start-sound-server.sh
