#!/usr/bin/env bash
# The scaled rows and the OpenGL row of bench/peers.py on this machine's own display and GPU
# rather than on Xvfb: run it from a desktop session (DISPLAY set) on a machine with a hardware
# GPU. Prints the OpenGL renderer the display offers, then the table, then which output and
# decoder each player used. First frames and X server CPU are not taken on a real display.
# Usage: bench/gpu.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=3
seconds=8
if [ "${1:-}" = --quick ]; then
  rounds=1
  seconds=5
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "bench/gpu.sh: no DISPLAY; run it from a desktop session" >&2
  exit 2
fi

scripts/install-deps.sh peers
command -v glxinfo >/dev/null || apt-get install -y mesa-utils x11-xserver-utils >/dev/null
renderer=$(glxinfo -B 2>/dev/null | sed -n 's/^ *OpenGL renderer string: //p')
echo "OpenGL renderer: ${renderer:-none}"
case $renderer in
*llvmpipe* | *softpipe* | "") echo "(no hardware GPU: the GL rows are software GL)" ;;
esac
# VLC runs as nobody, which needs to be let onto the display.
xhost +SI:localuser:nobody >/dev/null 2>&1 || true

cmake -S . -B build -DMOVARIN_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target movarin_bench
media=build/bench-media
python3 bench/peers.py --bin build --media "$media" --out bench/results --display "$DISPLAY" \
  --rows scaled,gl --players movarin,mpv,vlc --rounds "$rounds" --seconds "$seconds"
