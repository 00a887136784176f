#!/usr/bin/env bash
# Cross-builds the libraries Movarin needs on Windows from Debian 12's own source packages, with
# mingw-w64, into a prefix outside the checkout. The prefix is named by a hash of every stage's recipe,
# the toolchain and the pinned source versions; a finished prefix is reused at once, a half-built one
# never is, and a changed recipe rebuilds only its own stage and the ones after it.
# Usage (as root): scripts/windows/build-deps.sh      The prefix is printed on the last line.
# MOVARIN_WINDOWS_CACHE moves the cache (default /var/cache/movarin-windows), MOVARIN_JOBS the parallelism.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
export cache=${MOVARIN_WINDOWS_CACHE:-/var/cache/movarin-windows}
export jobs=${MOVARIN_JOBS:-2}
export host=x86_64-w64-mingw32

# Debian 12's versions. When the mirror drops one (a security update replaced it), put the new one
# here: `apt-cache showsrc --only-source NAME` lists what the mirror has once deb-src is enabled.
sources=(speex=1.2.1-2 freetype=2.12.1+dfsg-5+deb12u4 fribidi=1.0.8-2.1 harfbuzz=6.0.0+dfsg-3
  libass=1:0.17.1-1 ffmpeg=7:5.1.9-0+deb12u1 mpv=0.35.1-4 qt6-base=6.4.2+dfsg-10 zlib=1:1.2.13.dfsg-1)
export sources_list="${sources[*]}"
stages=(speex freetype fribidi harfbuzz libass ffmpeg mpv qtbase zlib)

fail() {
  echo "build-deps: $1" >&2
  [ -z "${2:-}" ] || echo "build-deps: to fix it: $2" >&2
  exit 1
}

tools=(x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres meson ninja
  nasm pkg-config make dpkg-source cmake perl python3 /usr/bin/time /usr/lib/qt6/libexec/moc)
missing_tools() {
  local t
  for t in "${tools[@]}"; do command -v "$t" >/dev/null || echo "$t"; done
}

install_toolchain() {
  local missing
  missing=$(missing_tools | tr '\n' ' ')
  [ -n "$missing" ] || return 0
  [ "$(id -u)" = 0 ] || fail "missing tools: $missing" "sudo $repo/scripts/install-deps.sh windows"
  echo "build-deps: installing the cross toolchain (missing: $missing)" >&2
  "$repo/scripts/install-deps.sh" windows >&2 || fail "apt-get could not install the toolchain" \
    "sudo apt-get update && sudo $repo/scripts/install-deps.sh windows"
  missing=$(missing_tools | tr '\n' ' ')
  [ -z "$missing" ] || fail "still missing after installing: $missing" "sudo $repo/scripts/install-deps.sh windows"
}

base_hash() { # the toolchain and the helpers every stage shares
  { declare -f unpack meson_build autotools_build write_cross_file; cat "$repo/cmake/mingw-w64.cmake"
    x86_64-w64-mingw32-g++-posix --version | head -1; dpkg-query -W qt6-base-dev-tools; } | sha256sum
}

# One hash per stage, each covering the ones before it; the last one names the finished prefix.
stage_hashes() {
  local stage hash
  hash=$(base_hash)
  for stage in "${stages[@]}"; do
    hash=$(stage_hash "$stage" "$hash")
    echo "$stage $hash"
  done
}

# The deb-src entry lives only while this script runs: apt would otherwise fetch source indexes forever.
srclist=/etc/apt/sources.list.d/movarin-windows-src.sources
drop_srclist() { rm -f "$srclist"; }
add_srclist() {
  [ "$(id -u)" = 0 ] || fail "fetching sources needs root (it adds a deb-src entry)" "sudo $0"
  trap drop_srclist EXIT
  local suite
  for suite in "debian bookworm bookworm-updates" "debian-security bookworm-security"; do
    set -- $suite
    printf 'Types: deb-src\nURIs: http://deb.debian.org/%s\nSuites: %s\nComponents: main\n' "$1" "${*:2}"
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
  done >"$srclist"
  apt-get update -qq -o DPkg::Lock::Timeout=900 >&2 || fail "apt-get update failed with the deb-src entry" \
    "check the network and /etc/apt/sources.list.d/, then run $0 again"
}

dsc_of() { # name=epoch:version -> the .dsc file name apt-get source writes
  local name=${1%%=*} version=${1#*=}
  echo "${name}_${version#*:}.dsc"
}

fetch_sources() {
  mkdir -p "$cache/src"
  local s wanted=()
  for s in "${sources[@]}"; do [ -f "$cache/src/$(dsc_of "$s")" ] || wanted+=("$s"); done
  [ ${#wanted[@]} -gt 0 ] || return 0
  add_srclist
  chmod 755 "$cache" "$cache/src"
  for s in "${wanted[@]}"; do
    (cd "$cache/src" && apt-get source -qq --download-only "$s" >&2) || fail "could not fetch the source \
package $s from Debian's mirror" "apt-cache showsrc --only-source ${s%%=*}   (then pin a listed version in $0)"
  done
}

pin_of() { # stage -> its entry in sources
  local s name=$1
  [ "$name" != qtbase ] || name=qt6-base
  for s in $sources_list; do [ "${s%%=*}" != "$name" ] || { echo "$s"; return; }; done
}

unpack() { # stage: a fresh tree of its Debian source, with Debian's patches, as the current directory
  rm -rf "$work/$1"
  dpkg-source --no-check -x "$cache/src/$(dsc_of "$(pin_of "$1")")" "$work/$1" >/dev/null
  cd "$work/$1"
}

write_cross_file() {
  cat >"$work/cross.txt" <<CROSS
[binaries]
c = 'x86_64-w64-mingw32-gcc-posix'
cpp = 'x86_64-w64-mingw32-g++-posix'
ar = 'x86_64-w64-mingw32-ar'
strip = 'x86_64-w64-mingw32-strip'
windres = 'x86_64-w64-mingw32-windres'
pkgconfig = 'pkg-config'

[properties]
pkg_config_libdir = '$partial/lib/pkgconfig'
needs_exe_wrapper = true

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
}

meson_build() { # extra meson options...: configure, build and install the current tree, static
  meson setup _build --cross-file "$work/cross.txt" --prefix "$partial" --libdir lib --buildtype release \
    --default-library static --wrap-mode nofallback "$@"
  ninja -C _build -j "$jobs"
  meson install -C _build --no-rebuild >/dev/null
}

autotools_build() { # configure options...
  ./configure --host="$host" --prefix="$partial" --disable-shared --enable-static "$@"
  make -j"$jobs"
  make install
}

build_speex() {
  unpack speex
  autotools_build --disable-binaries
}

build_freetype() {
  unpack freetype
  meson_build -Dbrotli=disabled -Dbzip2=disabled -Dharfbuzz=disabled -Dpng=disabled -Dzlib=internal \
    -Dtests=disabled
}

build_fribidi() {
  unpack fribidi
  meson_build -Ddocs=false
}

build_harfbuzz() {
  unpack harfbuzz
  meson_build -Dfreetype=enabled -Dglib=disabled -Dgobject=disabled -Dcairo=disabled -Dchafa=disabled \
    -Dicu=disabled -Dgraphite=disabled -Dgdi=disabled -Ddirectwrite=disabled -Dtests=disabled \
    -Dintrospection=disabled -Ddocs=disabled -Dbenchmark=disabled
}

build_libass() {
  unpack libass
  autotools_build --disable-fontconfig --disable-require-system-font-provider --disable-libunibreak \
    --enable-directwrite
}

# Only what the player plays: the FLV family first, then the common containers and codecs.
export ffmpeg_decoders ffmpeg_demuxers ffmpeg_parsers ffmpeg_filters
ffmpeg_decoders=flv,vp6,vp6a,vp6f,h264,mp3,mp3float,mp2,mp2float,aac,aac_latm,nellymoser,libspeex,adpcm_swf,\
adpcm_ima_wav,adpcm_ms,pcm_s16le,pcm_s16be,pcm_u8,pcm_s24le,pcm_s32le,pcm_f32le,pcm_alaw,pcm_mulaw,mpeg4,\
hevc,vp8,vp9,theora,vorbis,opus,flac,mpeg1video,mpeg2video
ffmpeg_demuxers=flv,live_flv,mov,matroska,avi,mpegts,mpegps,ogg,wav,mp3,aac,flac
ffmpeg_parsers=h264,hevc,mpeg4video,mpegaudio,aac,aac_latm,vp8,vp9,vp3,vorbis,opus,flac,mpegvideo
ffmpeg_filters=buffer,buffersink,abuffer,abuffersink,format,aformat,scale,aresample,null,anull,transpose,\
hflip,vflip

build_ffmpeg() {
  unpack ffmpeg
  ./configure --prefix="$partial" --enable-cross-compile --target-os=mingw32 --arch=x86_64 \
    --cross-prefix="$host-" --cc="$host-gcc-posix" --cxx="$host-g++-posix" --pkg-config=pkg-config \
    --pkg-config-flags=--static --enable-static --disable-shared --disable-programs --disable-doc \
    --disable-debug --disable-autodetect --enable-w32threads --disable-everything --disable-avdevice \
    --disable-postproc --disable-network --enable-protocol=file --enable-libspeex \
    --enable-decoder="$ffmpeg_decoders" --enable-demuxer="$ffmpeg_demuxers" \
    --enable-parser="$ffmpeg_parsers" --enable-filter="$ffmpeg_filters"
  make -j"$jobs"
  make install
}

build_mpv() {
  unpack mpv
  # Static libraries inside one libmpv-2.dll: the installer then ships a single file for playback.
  meson setup _build --cross-file "$work/cross.txt" --prefix "$partial" --libdir lib --buildtype release \
    --default-library shared -Dprefer_static=true -Dauto_features=disabled -Dlibmpv=true -Dcplayer=false \
    -Dgl=enabled -Dgl-win32=enabled -Dplain-gl=enabled -Dwasapi=enabled -Dstdatomic=enabled \
    -Dvector=enabled -Dmanpage-build=disabled -Dhtml-build=disabled -Dpdf-build=disabled
  ninja -C _build -j "$jobs"
  meson install -C _build --no-rebuild >/dev/null
  "$host-strip" "$partial/bin/libmpv-2.dll"
}

build_zlib() {
  unpack zlib
  CHOST="$host" CC="$host-gcc-posix" AR="$host-ar" RANLIB="$host-ranlib" ./configure --static \
    --prefix="$partial"
  make -j"$jobs" libz.a
  make install
}

build_qtbase() {
  unpack qtbase
  # Debian's tarball lacks the wintab headers, so no tablet events; the rest is cut to what the program
  # uses. XPM stays: drag and drop depends on it.
  cmake -S . -B _build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$partial" -DCMAKE_BUILD_TYPE=Release -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DBUILD_SHARED_LIBS=ON -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_direct2d=OFF -DFEATURE_freetype=OFF -DFEATURE_openssl=OFF -DFEATURE_gssapi=OFF \
    -DFEATURE_opengles2=OFF -DINPUT_opengl=desktop -DFEATURE_textmarkdownreader=OFF \
    -DFEATURE_textmarkdownwriter=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_imageformat_xbm=OFF \
    -DFEATURE_imageformat_ppm=OFF
  cmake --build _build -j "$jobs"
  cmake --install _build >/dev/null
}

stage_hash() { # stage previous-hash: changes when the stage, its source or anything before it changes
  { declare -f "build_$1"; pin_of "$1"; echo "$2"; } | sha256sum | cut -c1-16
}

run_stage() { # stage hash: build it unless the half-built prefix already holds this very stage
  local name=$1 hash=$2 stamp="$partial/.stamps/$1"
  [ "$(cat "$stamp" 2>/dev/null)" != "$hash" ] || return 0
  echo "build-deps: building $name ($(pin_of "$name")), log: $work/$name.log" >&2
  rm -f "$stamp"
  if ! /usr/bin/time -v -o "$work/$name.time" bash -euo pipefail -c "build_$name" >"$work/$name.log" 2>&1; then
    tail -n 30 "$work/$name.log" >&2
    fail "$name failed to build (full log: $work/$name.log); the cache holds no finished prefix" \
      "read the log; a missing tool is installed by: sudo $repo/scripts/install-deps.sh windows"
  fi
  local wall cpu
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/{print $2}' "$work/$name.time")
  cpu=$(awk -F': ' '/User time/{u=$2} /System time/{s=$2} END{printf "%.0f", u+s}' "$work/$name.time")
  printf '%-9s wall %s  cpu %s s\n' "$name" "$wall" "$cpu" | tee -a "$partial/.stamps/times.txt" >&2
  echo "$hash" >"$stamp"
}

relocate() { # dir from to: the prefix's own path inside its text files (pkg-config, CMake, scripts)
  local f
  grep -rlI --null -F "$2" "$1" | while IFS= read -r -d '' f; do sed -i "s|$2|$3|g" "$f"; done
}

# A new key starts from the newest finished prefix, so only the stages that changed are built again.
seed_partial() {
  [ ! -d "$partial" ] || return 0
  local newest
  newest=$(ls -td "$cache"/*/.complete 2>/dev/null | head -1)
  [ -n "$newest" ] || return 0
  newest=${newest%/.complete}
  echo "build-deps: starting from $newest" >&2
  cp -a "$newest" "$partial.copy"
  rm -f "$partial.copy/.complete"
  relocate "$partial.copy" "$newest" "$partial"
  mv -T "$partial.copy" "$partial"
}

finish() { # the half-built prefix becomes the finished one in a single rename
  local final=$1
  relocate "$partial" "$partial" "$final"
  find "$partial" -name '*.la' -delete
  touch "$partial/.complete"
  mv -T "$partial" "$final"
}

main() {
  install_toolchain
  export partial="$cache/partial" work="$cache/work" repo
  local hashes final
  hashes=$(stage_hashes)
  final="$cache/$(tail -n 1 <<<"$hashes" | cut -d' ' -f2)"
  if [ -f "$final/.complete" ]; then echo "$final"; return 0; fi
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock -n 9 || fail "another build-deps.sh is running on $cache" "wait for it, or end it"
  rm -rf "$partial.copy"
  seed_partial
  mkdir -p "$partial/.stamps" "$work"
  fetch_sources
  write_cross_file
  export PKG_CONFIG_LIBDIR="$partial/lib/pkgconfig" PKG_CONFIG_PATH=
  export -f fail pin_of dsc_of unpack meson_build autotools_build "${stages[@]/#/build_}"
  local stage hash
  while read -r stage hash; do run_stage "$stage" "$hash"; done <<<"$hashes"
  finish "$final"
  rm -rf "$work"
  echo "$final"
}

main "$@"
exit
