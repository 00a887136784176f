#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
scripts/build.sh
exec build/movarin "$PWD/samples/sample.flv"
