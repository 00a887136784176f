#!/usr/bin/env bash
# Builds Movarin for 64-bit Windows into build-windows/, cross-compiled with mingw-w64 against the
# libraries of scripts/windows/build-deps.sh, and gathers the program and every DLL it needs in
# build-windows/Movarin/, a folder that runs from anywhere; then the installer
# build-windows/Movarin-<version>-setup.exe and the same folder as build-windows/Movarin-<version>.zip.
# Usage: scripts/windows/build.sh [cmake options...]   (the first run builds the libraries: as root)
# MOVARIN_WINDOWS_TESTS=ON builds the test programs too (scripts/windows/test.sh runs them).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$repo/build-windows
host=x86_64-w64-mingw32

fail() {
  echo "build.sh: $1" >&2
  [ -z "${2:-}" ] || echo "build.sh: to fix it: $2" >&2
  exit 1
}

prefix=$("$repo/scripts/windows/build-deps.sh" | tail -n 1)
[ -f "$prefix/.complete" ] || fail "the Windows libraries are not built" "sudo $repo/scripts/windows/build-deps.sh"
export MOVARIN_WINDOWS_PREFIX=$prefix PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=

cmake -S "$repo" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DMOVARIN_WINDOWS_PREFIX="$prefix" \
  -DMOVARIN_BUILD_TESTS="${MOVARIN_WINDOWS_TESTS:-OFF}" -DMOVARIN_ORDER_LIBRARIES=OFF "$@" >/dev/null
cmake --build "$out" -j "${MOVARIN_JOBS:-2}"

# Where the DLLs come from: the libraries' prefix, then the compiler's runtime. Anything else
# must be Windows' own, which wine's copy of the system folder lists.
dll_dirs=("$prefix/bin" "/usr/lib/gcc/$host/12-posix" "/usr/$host/lib")
system_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

find_dll() { # name -> its path among dll_dirs, case-insensitive
  local dir hit
  for dir in "${dll_dirs[@]}"; do
    hit=$(find "$dir" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
    [ -z "$hit" ] || { echo "$hit"; return 0; }
  done
  return 1
}

# Copies the DLLs `file` imports into the folder, and theirs, until none is missing.
gather() {
  local file=$1 folder=$2 name path
  for name in $("$host-objdump" -p "$file" | awk '/DLL Name:/{print $3}'); do
    [ ! -e "$folder/$name" ] || continue
    if path=$(find_dll "$name"); then
      cp "$path" "$folder/$name"
      gather "$folder/$name" "$folder"
    elif [ -z "$(find "$system_dir" -maxdepth 1 -iname "$name" -print -quit)" ]; then
      fail "$(basename "$file") needs $name, which neither the libraries nor Windows provide" \
        "sudo $repo/scripts/windows/build-deps.sh   (a prefix missing it is rebuilt from nothing by removing it from /var/cache/movarin-windows)"
    fi
  done
}

folder=$out/Movarin
rm -rf "$folder"
mkdir -p "$folder"
cp "$out/movarin.exe" "$out/version.txt" "$folder/"
# Qt looks for its plugins in these folders beside the executable.
for plugin in platforms/qwindows.dll imageformats/qjpeg.dll imageformats/qgif.dll \
  imageformats/qico.dll styles/qwindowsvistastyle.dll; do
  [ -f "$prefix/plugins/$plugin" ] || fail "Qt's plugin $plugin is missing from $prefix" \
    "rebuild the libraries: sudo rm -rf $prefix && sudo $repo/scripts/windows/build-deps.sh"
  install -D -m644 "$prefix/plugins/$plugin" "$folder/$plugin"
  gather "$folder/$plugin" "$folder"
done
gather "$folder/movarin.exe" "$folder"

# The installer lists each file it installs, so that its uninstaller removes those and no others.
version=$(cat "$folder/version.txt")
lists=$out/installer
mkdir -p "$lists"
(cd "$folder" && find . -type f | sed 's|^\./||' | sort) >"$lists/files.txt"
{
  for dir in $(cd "$folder" && find . -mindepth 1 -type d | sed 's|^\./||' | sort); do
    printf 'SetOutPath "$INSTDIR\\%s"\n' "${dir//\//\\}"
    (cd "$folder" && find "$dir" -maxdepth 1 -type f | sort) | while read -r f; do
      printf 'File "%s"\n' "$folder/$f"
    done
  done
  printf 'SetOutPath "$INSTDIR"\n'
  (cd "$folder" && find . -maxdepth 1 -type f | sed 's|^\./||' | sort) | while read -r f; do
    printf 'File "%s"\n' "$folder/$f"
  done
} >"$lists/files.nsh"
{
  while read -r f; do printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}"; done <"$lists/files.txt"
  (cd "$folder" && find . -mindepth 1 -type d | sed 's|^\./||' | sort -r) | while read -r d; do
    printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"
  done
} >"$lists/unfiles.nsh"
setup=$out/Movarin-$version-setup.exe
command -v makensis >/dev/null || fail "makensis is missing" "sudo $repo/scripts/install-deps.sh windows"
makensis -V2 -DVERSION="$version" -DFOLDER="$folder" -DFILES="$lists/files.nsh" \
  -DUNFILES="$lists/unfiles.nsh" -DICON="$repo/resources/movarin.ico" -DOUTFILE="$setup" \
  "$repo/resources/windows/movarin.nsi" >&2
zip=$out/Movarin-$version.zip
rm -f "$zip"
(cd "$out" && zip -qr "$zip" Movarin)
echo "$setup"
echo "$zip"
