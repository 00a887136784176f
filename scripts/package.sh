#!/usr/bin/env bash
# Builds the Debian package build/movarin_<version>_<arch>.deb from the tree; extra arguments go
# to the configure step. Installs what is missing first (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package
scripts/build.sh "$@"
cd build
cpack -G DEB >/dev/null
ls movarin_*.deb
