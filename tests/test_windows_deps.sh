#!/usr/bin/env bash
# The Windows libraries' cache (scripts/windows/build-deps.sh) with stand-in stages that build in a
# blink: a finished prefix only ever appears whole, a second run builds nothing, a failing stage
# leaves no finished prefix and names its log, and a changed recipe rebuilds from that stage on.
# Usage: test_windows_deps.sh <checkout>
set -euo pipefail
repo=${1:?checkout}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# The script's functions, without its last call, under stand-ins for the toolchain and the mirror.
load() {
  local checkout=$1
  set -- # main is left out, so no arguments reach it
  # shellcheck disable=SC1090
  source <(sed '/^main "\$@"$/,$d' "$checkout/scripts/windows/build-deps.sh")
  repo=$checkout
  export cache=$tmp/cache
  stages=(one two three)
  install_toolchain() { :; }
  fetch_sources() { :; }
  write_cross_file() { :; }
  base_hash() { echo base; }
  pin_of() { echo "$1=1.0"; }
  build_one() { echo one >>"$cache/built"; echo "$partial/lib" >"$partial/one"; }
  build_two() { echo two >>"$cache/built"; touch "$partial/two"; }
  build_three() { echo three >>"$cache/built"; touch "$partial/three"; }
  export -f pin_of
}

run() { # one run in a subshell: its exit status, the stages it built, the prefix it printed
  rm -f "$tmp/cache/built"
  local status=0
  (load "$repo"; main) >"$tmp/out" 2>"$tmp/err" || status=$?
  echo "$status $(cat "$tmp/cache/built" 2>/dev/null | tr "\n" " ")"
}

check() { # name expected actual
  if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

finished() { find "$tmp/cache" -maxdepth 2 -name .complete | wc -l; }

mkdir -p "$tmp/cache"
check "first run builds every stage" "0 one two three " "$(run)"
first=$(tail -n 1 "$tmp/out")
check "the prefix is whole and named by the hash" "1 yes" "$(finished) $([ -f "$first/three" ] && echo yes)"
check "no half-built prefix is left" "no" "$([ -e "$tmp/cache/partial" ] && echo yes || echo no)"
check "a second run builds nothing" "0 " "$(run)"
check "and names the same prefix" "$first" "$(tail -n 1 "$tmp/out")"

# A stage that fails: the run fails, names the log, and no new finished prefix appears.
failing() { (load "$repo"; build_two() { echo two >>"$cache/built"; return 1; }; export -f build_two
  stages=(one two three); main) >"$tmp/out" 2>"$tmp/err"; }
status=0; rm -f "$tmp/cache/built"; failing || status=$?
check "a failing stage fails the run" "1" "$status"
check "its message names the stage and its log" "yes" \
  "$(grep -q 'two failed to build (full log: .*/two.log)' "$tmp/err" && echo yes || echo no)"
check "no new finished prefix" "1" "$(finished)"

# A changed recipe for the second stage: the newest prefix is the start, and only two and three run.
changed() { (load "$repo"; build_two() { echo two >>"$cache/built"; touch "$partial/two-b"; }
  export -f build_two; main) >"$tmp/out" 2>"$tmp/err"; }
rm -f "$tmp/cache/built"
status=0; changed || status=$?
check "a changed stage rebuilds from there on" "0 two three " "$status $(tr '\n' ' ' <"$tmp/cache/built")"
second=$(tail -n 1 "$tmp/out")
check "into a prefix of its own, the first kept" "2 yes yes" \
  "$(finished) $([ -f "$second/two-b" ] && echo yes) $([ -f "$first/one" ] && echo yes)"
check "paths inside name the prefix they lie in" "$first/lib $second/lib" \
  "$(cat "$first/one") $(cat "$second/one")"

[ "$failures" = 0 ]
