#!/usr/bin/env bash
# Installs build/movarin_*.deb on a fresh Debian 12 made with debootstrap, from the Debian mirror
# this machine's own apt sources name, runs it as nobody, removes it and checks that nothing of
# it is left. Run as root, after scripts/package.sh.
# Usage: scripts/check-package-clean.sh [chroot dir]
# The chroot made here is removed on every exit, Ctrl+C included; a folder given is kept, with the
# package purged from it, so that the next run skips debootstrap.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(ls build/movarin_*.deb 2>/dev/null | head -1) || true
[ -n "$deb" ] || { echo "no build/movarin_*.deb: run scripts/package.sh first"; exit 1; }

# Every "deb" entry of this machine's apt sources as "uri suite components...", one a line, from
# the one-line format and from deb822 .sources files alike.
apt_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" { $1 = ""; print substr($0, 2) }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'function flush(  i, j) {
           if (types ~ /(^| )deb( |$)/ && enabled != "no")
             for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) print uri[i], suite[j], comps
           types = enabled = comps = ""; nu = ns = 0
         }
         /^[ \t]*#/ { next }
         /^[ \t]*$/ { flush(); next }
         /^[ \t]/ { next }
         { key = tolower($1); sub(/:.*/, "", key); sub(/^[^:]*:[ \t]*/, "") }
         key == "types" { types = $0 }
         key == "enabled" { enabled = tolower($0) }
         key == "uris" { nu = split($0, uri, " ") }
         key == "suites" { ns = split($0, suite, " ") }
         key == "components" { comps = $0 }
         END { flush() }' "$f"
  done
}
entries=$(apt_entries | awk '$2 ~ /^bookworm(-updates|-security)?$/')
mirror=$(awk '$2 == "bookworm" { print $1; exit }' <<<"$entries")
[ -n "$mirror" ] || { echo "no Debian 12 (bookworm) mirror in /etc/apt/sources.list*"; exit 1; }

root=${1:-}
made=
child=
log=$(mktemp)
# Long steps run in a session of their own, waited for with `wait`, which a signal interrupts:
# debootstrap and dpkg carry on through Ctrl+C, so the clean-up stops them itself.
run() {
  setsid "$@" &
  child=$!
  wait "$child"
  child=
}
stop_child() {
  [ -n "$child" ] || return 0
  kill -TERM -- "-$child" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 -- "-$child" 2>/dev/null || return 0
    sleep 0.2
  done
  kill -KILL -- "-$child" 2>/dev/null || true
  sleep 1
}
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  stop_child
  if [ -n "$root" ] && [ -d "$root" ]; then
    # What is mounted inside goes first, deepest first (debootstrap mounts too, and may have
    # been stopped half-way), so that removing the tree never reaches into the host's.
    awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r |
      while read -r m; do umount -l "$m" || true; done
    if [ -n "$made" ]; then
      rm -rf --one-file-system "$root"
    elif [ -x "$root/usr/bin/dpkg" ]; then
      chroot "$root" dpkg --purge movarin >/dev/null 2>&1 || true
    fi
  fi
  rm -f "$log"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/movarin-clean.XXXXXX)
  made=1
fi
mkdir -p "$root"
# mktemp makes it 0700: nobody could not even reach /bin/sh inside.
chmod 0755 "$root"

command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "debootstrap bookworm from $mirror into $root"
  run debootstrap --variant=minbase bookworm "$root" "$mirror" >"$log" 2>&1 ||
    { tail -20 "$log"; exit 1; }
fi
# The suites this machine uses (updates, security): the package's library versions come from them.
awk '{ $1 = "deb " $1; print }' <<<"$entries" >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/movarin.deb"
mount -t proc proc "$root/proc"
run chroot "$root" sh -eu -c '
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq /tmp/movarin.deb >/tmp/install.log 2>&1 || { tail -20 /tmp/install.log; exit 1; }
  echo "installed with $(grep -c "^Setting up" /tmp/install.log) packages"
  [ "$(su nobody -s /bin/sh -c "movarin --version")" = "Movarin $(cat /usr/bin/version.txt)" ]
  echo "movarin --version works for nobody"
  dpkg -L movarin >/tmp/movarin-files
  apt-get remove -y -qq movarin >/dev/null 2>&1
  left=$(while read -r f; do [ ! -e "$f" ] || [ -d "$f" ] || echo "$f"; done </tmp/movarin-files)
  left="$left$(find / -xdev \( -path /proc -o -path /tmp \) -prune -o -name "*movarin*" -print)"
  [ -z "$left" ] || { echo "left behind: $left"; exit 1; }
  echo "removed: nothing of it is left"'
echo "clean install and removal checked"
