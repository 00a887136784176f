#!/usr/bin/env bash
# Builds the Windows tests (scripts/windows/build.sh) and runs them under wine64, in a wine prefix of
# their own (build-windows/wine), as CTest's cross-compiling emulator.
# Usage: scripts/windows/test.sh [ctest options...]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$repo/build-windows
wine=/usr/lib/wine/wine64

fail() {
  echo "test.sh: $1" >&2
  [ -z "${2:-}" ] || echo "test.sh: to fix it: $2" >&2
  exit 1
}

[ -x "$wine" ] || fail "wine64 is missing ($wine)" "sudo $repo/scripts/install-deps.sh windows"
MOVARIN_WINDOWS_TESTS=ON "$repo/scripts/windows/build.sh" -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null
prefix=$(grep -m1 '^MOVARIN_WINDOWS_PREFIX:' "$out/CMakeCache.txt" | cut -d= -f2-)

windows_path() { echo "Z:${1//\//\\}"; }

# No Mono or Gecko prompts, no debug chatter; a display only when one is there.
export WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$(windows_path "$prefix/bin");$(windows_path /usr/lib/gcc/x86_64-w64-mingw32/12-posix);$(windows_path /usr/x86_64-w64-mingw32/lib)"
export QT_PLUGIN_PATH=$(windows_path "$prefix/plugins")
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || fail "wine could not make its prefix in $WINEPREFIX" \
    "rm -rf $WINEPREFIX and run again; wine64 --version must answer"
fi
status=0
ctest --test-dir "$out" --output-on-failure "$@" || status=$?
# The prefix's server stays for a few seconds after the last program; it must not outlive the run.
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit "$status"
