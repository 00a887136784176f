#!/usr/bin/env bash
# Builds the benchmark programs into build/, makes the test videos once, and prints two tables:
# the player's figures against floors of its own engine, and the player beside other players on
# the same files (bench/peers.py). Both are saved under bench/results/ as CSV.
# Usage: bench/run.sh [--quick] [--floors | --peers]
#   --quick   3 first-frame runs, 1 playing run of 5 s; peers: 1 round of 5 s
#   --floors / --peers   only that table
# Run it on a quiet machine: every figure is compared with others measured in the same run, but
# heavy neighbours still widen the spread. The peers are installed here (apt-get, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=no
only=
for arg in "$@"; do
  case $arg in
  --quick) quick=yes ;;
  --floors) only=floors ;;
  --peers) only=peers ;;
  *) echo "usage: bench/run.sh [--quick] [--floors | --peers]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh test

cmake -S . -B build -DMOVARIN_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target movarin_bench movarin_floor bench_runner

media=build/bench-media
mkdir -p "$media"

if [ "$only" != peers ]; then
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
  if [ $quick = yes ]; then
    args+=(--runs 3 --cpu-runs 1 --seconds 5)
  fi
  # A real X server, as on a desktop, when there is one to start; the in-memory platform otherwise.
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1920x1080x24" build/bench_runner "${args[@]}"
  else
    QT_QPA_PLATFORM=offscreen build/bench_runner "${args[@]}"
  fi
fi

if [ "$only" != floors ]; then
  scripts/install-deps.sh peers
  peer_args=(--bin build --media "$media" --out bench/results)
  if [ $quick = yes ]; then
    peer_args+=(--rounds 1 --seconds 5)
  fi
  python3 bench/peers.py "${peer_args[@]}"
  # Seeks in 1 h and 4 h recordings without a keyframe index, beside mpv.
  seek_args=(--bin build --media "$media" --out bench/results)
  if [ $quick = yes ]; then
    seek_args+=(--rounds 1)
  fi
  python3 bench/seeks.py "${seek_args[@]}"
fi
