#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (clang, preset "asan",
# into build-asan/) and runs the whole test suite there; the fuzz targets run as libFuzzer
# fuzzers in this build. Any sanitizer report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$(nproc)"
ctest --preset asan
