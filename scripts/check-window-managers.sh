#!/usr/bin/env bash
# Plays the sample under each X window manager as a user would and counts what goes wrong:
# fresh starts whose frame is not at home or whose window is not fitted to the video, and
# full-screen round trips (F, F11 or a double-click in; Escape, the same key or a double-click
# out) that do not give the whole screen, or do not bring the frame back to its pixel and size.
# Usage: scripts/check-window-managers.sh [-r ROUNDS] [-s STARTS] [WM...]
#   WM: none openbox xfwm4 kwin-bare (kwin_x11 without decorations) kwin fluxbox dwm;
#   by default all but none and kwin. Each gets an Xvfb of its own. Needs build/movarin
#   (scripts/test.sh builds it) and scripts/install-deps.sh test.
set -uo pipefail
cd "$(dirname "$0")/.."
# xfwm4 and kwin keep their settings on a session bus.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || exec dbus-run-session -- "$0" "$@"
rounds=20 starts=20
while getopts r:s: opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    s) starts=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
managers=("$@")
[ ${#managers[@]} -gt 0 ] || managers=(openbox xfwm4 kwin-bare fluxbox dwm)

player=$PWD/build/movarin
sample=$PWD/samples/sample.flv
home=193,133                         # 2900, 2000 twips
screen=1280x1024
video_w=320 video_h=240              # the sample's size
[ -x "$player" ] || { echo "no $player: build first" >&2; exit 2; }
. scripts/window-managers.sh
work=$(mktemp -d)
export HOME=$work QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$work
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_x() {
  rm -f "$work/display"
  Xvfb -displayfd 4 -screen 0 ${screen}x24 -nolisten tcp 4>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$work/display")
  # What the bus starts for a window manager must find this display.
  dbus-update-activation-environment DISPLAY 2>/dev/null
}

stop_x() {
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=
  sleep 1 # the window manager ends with its display
}

# "x,y wxh full|normal" of the player's window: where its frame stands (the window manager's
# extents taken off the window's outer corner, its border included), the inner size, and the
# full-screen state.
window_state() {
  local info extents
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | awk -F' = ' 'NF>1{print $2}')
  awk -v ext="${extents:-0, 0, 0, 0}" -v state="$(xprop -id "$1" _NET_WM_STATE 2>/dev/null)" '
    /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2}
    END { split(ext, e, ", "); full = state ~ /FULLSCREEN/ ? "full" : "normal"
          printf "%d,%d %dx%d %s\n", x - e[1], y - e[3], w, h, full }' <<<"$info"
}

# Waits up to `$2` tenths of a second for the state to match `$3` (an extended regex).
wait_state() {
  local s
  for _ in $(seq "$2"); do
    s=$(window_state "$1") && [[ $s =~ $3 ]] && { echo "$s"; return 0; }
    sleep 0.1
  done
  echo "${s:-gone}"
  return 1
}

player_window() {
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

fitted="^$home $video_w"x"(2[4-9][0-9]) normal$" # the video with the menu bar over it

fresh_start() {
  got=
  "$player" "$sample" >"$work/player.log" 2>&1 &
  pid=$!
  id=$(player_window "$pid") || { grep -v ALSA "$work/player.log" | tail -3 >&2; return 1; }
  wait_state "$id" 100 "$fitted" >/dev/null
  sleep 1.5 # nothing moves it later
  got=$(window_state "$id") && [[ $got =~ $fitted ]]
}

press() {
  if [ "$1" = click ]; then
    xdotool mousemove $2 click --repeat 2 --delay 60 1
  else
    xdotool key "$1"
  fi
}

# Full screen by the `n`th way and back; `before` is the window's state outside it.
round_trip() {
  local n=$1 id=$2 before=$3 in out got
  case $((n % 3)) in
    0) in=f out=Escape ;;
    1) in=F11 out=F11 ;;
    2) in=click out=click ;;
  esac
  press $in "$(( ${before%%,*} + 100 )) $(( $(cut -d, -f2 <<<"${before%% *}") + 100 ))"
  got=$(wait_state "$id" 50 "^$full$") && sleep 0.5 &&
    got=$(window_state "$id") && [[ $got == "$full" ]] ||
    { echo "  round $n ($in): $got" >&2; return 1; }
  press $out "640 512"
  got=$(wait_state "$id" 50 "^$before$") && sleep 0.7 &&
    got=$(window_state "$id") && [[ $got == "$before" ]] ||
    { echo "  round $n ($out) back: $got, not $before" >&2; return 1; }
}

status=0
for wm in "${managers[@]}"; do
  full="0,0 $screen full"
  [ "$wm" = none ] && full="0,0 $screen normal" # no one to set the state
  start_x
  if ! start_window_manager "$wm" "$work"; then stop_x; status=1; continue; fi
  sleep 1 # settled in
  good_starts=0
  for n in $(seq "$starts"); do
    if fresh_start; then
      good_starts=$((good_starts + 1))
    else
      echo "  start $n: ${got:-no window}" >&2
    fi
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  done
  good_rounds=0
  if fresh_start; then
    xdotool mousemove 300 250 sleep 0.2 windowfocus "$id" 2>/dev/null
    for n in $(seq "$rounds"); do
      round_trip "$n" "$id" "$got" && good_rounds=$((good_rounds + 1))
    done
  else
    echo "  the start for the round trips failed: ${got:-no window}" >&2
  fi
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  stop_x
  echo "$wm: fresh starts $good_starts/$starts, full-screen round trips $good_rounds/$rounds"
  [ "$good_starts" = "$starts" ] && [ "$good_rounds" = "$rounds" ] || status=1
done
exit $status
