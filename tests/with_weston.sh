#!/bin/sh
# Runs a command as a client of a headless weston of its own; exits 77 (skipped) when weston
# cannot start.
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
weston --backend=headless-backend.so --use-pixman --socket=movarin-gl --idle-time=0 \
  --width=1024 --height=768 >"$runtime/weston.log" 2>&1 &
weston=$!
i=0
while [ ! -S "$runtime/movarin-gl" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
if [ ! -S "$runtime/movarin-gl" ]; then
  cat "$runtime/weston.log"
  kill $weston 2>/dev/null
  rm -rf "$runtime"
  exit 77
fi
WAYLAND_DISPLAY=movarin-gl QT_QPA_PLATFORM=wayland "$@"
status=$?
kill $weston
wait $weston 2>/dev/null
rm -rf "$runtime"
exit $status
