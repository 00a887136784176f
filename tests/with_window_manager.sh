#!/bin/sh
# Runs a command on $DISPLAY under the window manager named first (see
# scripts/window-managers.sh), and ends the window manager after it.
. "$(dirname "$0")/../scripts/window-managers.sh"
wm=$1
shift
dir=$(mktemp -d)
start_window_manager "$wm" "$dir" || { rm -rf "$dir"; exit 1; }
wm_pid=$!
"$@"
status=$?
# Not waited for: fluxbox at times ignores the request to end.
kill "$wm_pid" 2>/dev/null
sleep 0.5
kill -9 "$wm_pid" 2>/dev/null
rm -rf "$dir"
exit $status
