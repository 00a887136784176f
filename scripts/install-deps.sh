#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
# Usage: scripts/install-deps.sh [run|test|package|art|peers|bench|windows]   (run as root)
# "package" adds what scripts/package.sh needs to make the Debian package; "art" what
# resources/make-art.py needs to redraw the pictures and icons; "peers" the players that
# bench/run.sh compares with, and the FLV fixers bench/repair.py compares with (alone: "bench");
# "windows" the cross toolchain, wine and NSIS that scripts/windows/ use.
set -euo pipefail
what=${1:-run}

packages=(build-essential cmake pkg-config libxcb1-dev qt6-base-dev libqt6opengl6-dev libgl1-mesa-dri libegl-mesa0 zlib1g-dev libmpv-dev libavformat-dev ffmpeg)
if [ "$what" = test ]; then
  packages+=(xvfb xauth x11-xserver-utils xdotool openbox xfwm4 kwin-x11 fluxbox dwm x11-utils weston qt6-wayland locales desktop-file-utils appstream groff-base
    clang libclang-rt-14-dev dbus-daemon dbus-bin dpkg-dev file lintian xdg-utils time)
fi
if [ "$what" = package ]; then
  packages+=(dpkg-dev file)
fi
if [ "$what" = peers ]; then
  packages+=(mpv vlc vlc-plugin-base xvfb openbox python3 util-linux)
fi
if [ "$what" = peers ] || [ "$what" = bench ]; then
  # The FLV fixers bench/repair.py compares movarin-repair with.
  packages+=(flvmeta yamdi ffmpeg mpv python3 time)
fi
if [ "$what" = windows ]; then
  packages+=(mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64 nsis meson ninja-build nasm
    pkg-config make autoconf automake libtool dpkg-dev python3 qt6-base-dev-tools xz-utils zip time xvfb xauth xdotool)
fi
if [ "$what" = art ]; then
  packages+=(python3 imagemagick librsvg2-bin fonts-dejavu-core)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq -o DPkg::Lock::Timeout=900
  apt-get install -y -qq -o DPkg::Lock::Timeout=900 --no-install-recommends "${missing[@]}"
fi

if [ "$what" = test ]; then
  # The engine must start under a German number format; the tests need that locale.
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
