#!/usr/bin/env bash
# Makes the bundled sample: 320x240 Sorenson Spark video with an MP3 tone in FLV, 5 seconds,
# a moving test pattern so playback is visible at a glance.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=320x240:rate=25:duration=5" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=5" \
  -c:v flv1 -q:v 5 -c:a libmp3lame -b:a 64k -ar 44100 \
  "$here/sample.flv"
