#!/usr/bin/env bash
# Remakes the program's PNG icons from app/icons/velmo.svg. The PNGs are committed, so only
# someone who changes the drawing needs the renderer (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
for size in 32 48 128; do
  rsvg-convert --width "$size" --height "$size" --output "velmo-$size.png" velmo.svg
done
