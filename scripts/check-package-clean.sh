#!/usr/bin/env bash
# Installs build/movarin_*.deb on a fresh Debian 12 made with debootstrap (needs Debian's package
# mirror), runs it, removes it and checks that nothing of it is left. Run as root, after
# scripts/package.sh. Usage: scripts/check-package-clean.sh [chroot dir]
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(ls build/movarin_*.deb | head -1)
root=${1:-$(mktemp -d /var/tmp/movarin-clean.XXXXXX)}
command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
[ -x "$root/usr/bin/apt-get" ] ||
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
cp "$deb" "$root/tmp/movarin.deb"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
chroot "$root" sh -eu -c '
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq /tmp/movarin.deb >/tmp/install.log 2>&1
  echo "installed with $(grep -c "^Setting up" /tmp/install.log) packages"
  [ "$(su nobody -s /bin/sh -c "movarin --version")" = "Movarin $(cat /usr/bin/version.txt)" ]
  echo "movarin --version works for nobody"
  dpkg -L movarin >/tmp/movarin-files
  apt-get remove -y -qq movarin >/dev/null 2>&1
  left=$(while read -r f; do [ ! -e "$f" ] || [ -d "$f" ] || echo "$f"; done </tmp/movarin-files)
  left="$left$(find / -xdev \( -path /proc -o -path /tmp \) -prune -o -name "*movarin*" -print)"
  [ -z "$left" ] || { echo "left behind: $left"; exit 1; }
  echo "removed: nothing of it is left"'
