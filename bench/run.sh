#!/usr/bin/env bash
# Builds the benchmark programs into build/, makes the 720p test video once, and prints the table
# of figures against their floors; the table is saved as bench/results/<date>.csv.
# Usage: bench/run.sh [--quick]     (--quick: 3 first-frame runs, 1 playing run of 5 s)
# Run it on a quiet machine: every figure is a ratio to a floor measured in the same run, but
# heavy neighbours still widen the spread.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build -DMOVARIN_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target movarin_bench movarin_floor bench_runner

media=build/bench-media
mkdir -p "$media"
hd=$media/h264-1280x720-24s.flv
if [ ! -s "$hd" ]; then
  echo "Making $hd (once)"
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=24" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=24" \
    -c:v libx264 -preset fast -pix_fmt yuv420p -b:v 3M -c:a libmp3lame -b:a 128k -ar 44100 \
    "$hd.tmp.flv"
  mv "$hd.tmp.flv" "$hd"
fi

args=(--bin build --sample "$PWD/samples/sample.flv" --hd "$PWD/$hd" --out bench/results)
if [ "${1:-}" = --quick ]; then
  args+=(--runs 3 --cpu-runs 1 --seconds 5)
fi

# A real X server, as on a desktop, when there is one to start; the in-memory platform otherwise.
if command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_runner "${args[@]}"
else
  QT_QPA_PLATFORM=offscreen exec build/bench_runner "${args[@]}"
fi
