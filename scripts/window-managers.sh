# Sourced: start_window_manager WM DIR starts the window manager WM on $DISPLAY in the
# background, its settings and chatter kept in DIR, and returns once it runs (its check window
# names itself), or 1 after 10 s. WM: none openbox xfwm4 kwin kwin-bare (kwin_x11 without
# decorations) fluxbox dwm. Run it under a session bus (dbus-run-session) for xfwm4 and kwin.
start_window_manager() {
  mkdir -p "$2/config"
  case $1 in
    none) return 0 ;;
    openbox) openbox --sm-disable >"$2/wm.log" 2>&1 & ;;
    xfwm4) xfwm4 --compositor=off --sm-client-disable >"$2/wm.log" 2>&1 & ;;
    kwin | kwin-bare)
      rm -f "$2/config/kwinrc"
      [ "$1" = kwin ] || printf '[org.kde.kdecoration2]\nNoPlugin=true\n' >"$2/config/kwinrc"
      XDG_CONFIG_HOME=$2/config kwin_x11 >"$2/wm.log" 2>&1 & ;;
    fluxbox) HOME=$2 fluxbox >"$2/wm.log" 2>&1 & ;;
    dwm) dwm >"$2/wm.log" 2>&1 & ;;
    *) echo "unknown window manager $1" >&2; return 1 ;;
  esac
  for _ in $(seq 100); do
    check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/{print $NF}')
    [ -n "$check" ] && xprop -id "$check" _NET_SUPPORTING_WM_CHECK 2>/dev/null |
      grep -q "$check" && return 0
    sleep 0.1
  done
  echo "$1 did not start" >&2
  cat "$2/wm.log" >&2
  return 1
}
