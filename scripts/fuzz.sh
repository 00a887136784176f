#!/usr/bin/env bash
# Runs every fuzz target for longer than the test suite does (default 300 s each), in the
# sanitizer build. New inputs collect in build-asan/fuzz/corpus/<target>; an input that breaks a
# property or trips a sanitizer is saved as build-asan/fuzz/<target>-crash-*, and the script fails.
# Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
scripts/install-deps.sh test
cmake --preset asan >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd fuzz && ls -d corpus/*/ | xargs -n1 basename)
fi
cmake --build --preset asan -j"$(nproc)" --target "${targets[@]}"
for t in "${targets[@]}"; do
  echo "== $t, $seconds s"
  mkdir -p "build-asan/fuzz/corpus/$t"
  "build-asan/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-asan/fuzz/$t-" "build-asan/fuzz/corpus/$t" "fuzz/corpus/$t"
done
