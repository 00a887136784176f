#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it as a user's system would see it:
# its files and fields, lintian, and xdg-open starting the packaged desktop entry's command on
# files with awkward names in a desktop session of its own.
# Usage: check_package.sh <build dir> <source dir>
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
version=$(cat "$build/version.txt")
arch=$(dpkg --print-architecture)
deb="$work/out/movarin_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

# Fields: the version users see, and every library the program links, each from its runtime
# package with a lowest version.
[ "$(dpkg-deb -f "$deb" Package)" = movarin ] || fail "Package field"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
[ "$(dpkg-deb -f "$deb" Section)" = video ] || fail "Section field"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libmpv2 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
  libqt6dbus6; do
  grep -Eq "(^|, )${lib//+/\\+} \(>= [^)]+\)(,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q -- '-dev' <<<"$depends" && fail "Depends names a development package: $depends"

# Contents: exactly these files, owned by root, with these modes.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6} $1 ~ /^d/ && $1 != "drwxr-xr-x" {print}' |
  sort >"$work/contents"
{
  echo "-rwxr-xr-x root/root ./usr/bin/movarin"
  echo "-rwxr-xr-x root/root ./usr/bin/movarin-repair"
  for f in usr/bin/version.txt usr/share/applications/movarin.desktop \
    usr/share/doc/movarin/changelog.gz usr/share/doc/movarin/copyright \
    usr/share/icons/hicolor/scalable/apps/movarin.svg usr/share/lintian/overrides/movarin \
    usr/share/man/man1/movarin.1.gz usr/share/man/man1/movarin-repair.1.gz \
    usr/share/metainfo/com.movarinplayer.movarin.metainfo.xml; do
    echo "-rw-r--r-- root/root ./$f"
  done
  for size in 16 32 48 64 128 256; do
    echo "-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x${size}/apps/movarin.png"
  done
} | sort >"$work/expected"
diff -u "$work/expected" "$work/contents" || fail "package contents differ (- wanted, + found)"

root="$work/root"
dpkg-deb -x "$deb" "$root"
cmp -s "$root/usr/share/applications/movarin.desktop" "$build/resources/movarin.desktop" ||
  fail "the packaged desktop entry is not the built one"
# The desktop entry, the metainfo and MPRIS carry one list of types, every one known to the
# desktop's MIME database (an unknown name would match no file).
types=$(sed -n 's/^MimeType=//p' "$root/usr/share/applications/movarin.desktop" | tr ';' '\n' | grep .)
[ "$(grep -o '<mediatype>[^<]*' "$root/usr/share/metainfo/com.movarinplayer.movarin.metainfo.xml" |
  cut -d'>' -f2)" = "$types" ] || fail "the metainfo's media types are not the desktop entry's"
for type in $types; do
  grep -qxF "$type" /usr/share/mime/types || grep -q "^${type//./\\.} " /usr/share/mime/aliases ||
    fail "$type is no MIME type shared-mime-info knows"
done
cmp -s "$root/usr/bin/version.txt" "$build/version.txt" || fail "version.txt differs"
cmp -s "$root/usr/share/metainfo/com.movarinplayer.movarin.metainfo.xml" \
  "$build/resources/com.movarinplayer.movarin.metainfo.xml" || fail "the metainfo differs"
cmp -s <(zcat "$root/usr/share/man/man1/movarin.1.gz") "$build/resources/movarin.1" ||
  fail "the manual page differs from the built one"
zcat "$root/usr/share/doc/movarin/changelog.gz" | head -1 | grep -qF "movarin ($version) " ||
  fail "the change log's first entry is not $version"
out=$("$root/usr/bin/movarin" --version 2>&1) || true
[ "$out" = "Movarin $version" ] || fail "packaged movarin --version printed: $out"
file "$root/usr/bin/movarin" | grep -q 'stripped$' || fail "the program is not stripped"
file "$root/usr/bin/movarin-repair" | grep -q 'stripped$' || fail "movarin-repair is not stripped"
cmp -s <(zcat "$root/usr/share/man/man1/movarin-repair.1.gz") "$build/resources/movarin-repair.1" ||
  fail "the repair's manual page differs from the built one"
# The packaged repair runs on its own libraries and writes a copy.
"$root/usr/bin/movarin-repair" "$source/samples/sample.flv" "$work/repaired.flv" >/dev/null ||
  fail "the packaged movarin-repair did not repair the sample"
desktop-file-validate "$root/usr/share/applications/movarin.desktop" || fail "desktop entry"

# Errors and warnings both fail; the warnings kept are overridden, with the reason, in the package.
if ! lintian --fail-on error,warning --display-info "$deb" >"$work/lintian" 2>&1; then
  fail "lintian"
fi
cat "$work/lintian"

# Where users open files: a generic desktop session of its own, the packaged tree as its system
# data, Movarin the default for Flash Video, and a stand-in on PATH that records its arguments.
session="$work/session"
mkdir -p "$session/home" "$session/data" "$session/config" "$session/bin" "$session/files"
cat >"$session/bin/movarin" <<'EOF'
#!/bin/sh
printf '%s\0' "$@" >"$MOVARIN_RECORD"
EOF
chmod +x "$session/bin/movarin"
run_in_session() {
  env -i PATH="$session/bin:/usr/bin:/bin" HOME="$session/home" \
    XDG_DATA_HOME="$session/data" XDG_CONFIG_HOME="$session/config" \
    XDG_DATA_DIRS="$root/usr/share" XDG_CURRENT_DESKTOP=X-Generic DISPLAY=:99 \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$session/no-bus" MOVARIN_RECORD="$session/record" \
    "$@"
}
run_in_session xdg-mime default movarin.desktop video/x-flv
[ "$(run_in_session xdg-mime query default video/x-flv)" = movarin.desktop ] ||
  fail "xdg-mime does not name movarin.desktop as the default for video/x-flv"

names=("clip.flv" "my clip  with blanks.flv" $'bytes \xff\xfe\xe9 not UTF-8.flv'
  "quotes \" ' \$(id) \`id\` %f.flv")
for name in "${names[@]}"; do
  cp "$source/samples/sample.flv" "$session/files/$name"
  [ "$(file --brief --mime-type "$session/files/$name")" = video/x-flv ] || fail "file type"
  # As typed in a terminal (relative) and as a file manager passes it (absolute, or a URL).
  for target in "$name" "$session/files/$name"; do
    rm -f "$session/record"
    (cd "$session/files" && run_in_session xdg-open "$target") || fail "xdg-open $target"
    if ! cmp -s "$session/record" <(printf '%s\0' "$target"); then
      fail "xdg-open $(printf %q "$target") started: $(tr '\0' '|' <"$session/record" | od -c)"
    fi
  done
done
rm -f "$session/record"
run_in_session xdg-open "file://$session/files/my%20clip%20%20with%20blanks.flv" ||
  fail "xdg-open of a file URL"
cmp -s "$session/record" <(printf '%s\0' "$session/files/my clip  with blanks.flv") ||
  fail "a file URL did not arrive as its path"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "package $deb checked"
