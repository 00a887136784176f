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
# The build lists each target beside its seeds; some targets share another's.
declare -A seeds
while IFS=$'\t' read -r name folder; do
  seeds[$name]=$folder
done < build-asan/fuzz/targets.tsv
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(printf '%s\n' "${!seeds[@]}" | sort)
fi
for t in "${targets[@]}"; do
  if [ -z "${seeds[$t]:-}" ]; then
    echo "No fuzz target $t; there are: $(printf '%s ' "${!seeds[@]}")" >&2
    exit 2
  fi
done
cmake --build --preset asan -j"$(nproc)" --target "${targets[@]}"
for t in "${targets[@]}"; do
  echo "== $t, $seconds s"
  mkdir -p "build-asan/fuzz/corpus/$t"
  "build-asan/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-asan/fuzz/$t-" "build-asan/fuzz/corpus/$t" "${seeds[$t]}"
done
