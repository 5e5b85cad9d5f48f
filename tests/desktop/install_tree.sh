#!/usr/bin/env bash
# install_tree.sh BUILD_DIR: installs the build into a temporary DESTDIR and checks what a
# desktop gets: exactly the files we mean to install, icons of the right size that match their
# SVG, and a desktop entry, metainfo and man page that their validators accept and that agree
# with each other and with the executable's --help.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_tree: $*" >&2; exit 1; }
id=org.zoraruvo.Q47
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

# Exactly these files, nothing left over from a build (a temporary file, a stray asset).
expected=(
  bin/q47
  share/applications/$id.desktop
  share/doc/q47/LICENSE share/doc/q47/README.md
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man6/q47.6
  share/metainfo/$id.metainfo.xml
)
# The hub's server, when its packages were there to build it.
hub=0
if [ -x "$build/hub/q47-hub" ]; then
  hub=1
  expected+=(bin/q47-hub share/man/man1/q47-hub.1)
  for file in index.html hub.js hub.css shared.js; do expected+=("share/q47-hub/page/$file"); done
fi
for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x$size/apps/$id.png"); done
for sound in warn clean click win lose bump take nitr cant; do expected+=("share/q47/$sound.wav"); done
expected+=(share/q47/q47.ogg)
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$usr" && find . -type f -printf '%P\n' | sort) ||
  fail "the installed files differ from the list above (< missing, > unexpected)"
[ -x "$usr/bin/q47" ] || fail "the executable is not executable"
echo "installed ${#expected[@]} files, as expected"

# Each PNG: its folder's size, transparent corners, and the source cell's pale green where the
# design puts it (second cell of the second row of a 5-cell board inset by 1/16).
for size in 16 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
  read -r width height alpha < <(identify -format '%w %h %A\n' "$png")
  [ "$width x $height" = "$size x $size" ] || fail "$png is $width x $height"
  [ "$alpha" = True ] || [ "$alpha" = Blend ] || fail "$png has no alpha channel ($alpha)"
  corner=$(convert "$png" -format '%[fx:int(255*p{0,0}.a)]' info:)
  [ "$corner" = 0 ] || fail "$png: the corner is not transparent (alpha $corner)"
  at=$((size / 16 + (size - size / 8) * 3 / 10))
  source=$(convert "$png" -format '%[fx:int(255*p{'$at','$at'}.r)] %[fx:int(255*p{'$at','$at'}.g)]' info:)
  [ "$source" = "139 255" ] || fail "$png: the source cell at $at,$at is '$source', not 139 255"
done
# The SVG, drawn by an independent renderer, is the 256 px design.
rsvg-convert "$usr/share/icons/hicolor/scalable/apps/$id.svg" -o "$work/svg.png"
differing=$(compare -metric AE -fuzz 10% "$work/svg.png" \
  "$usr/share/icons/hicolor/256x256/apps/$id.png" null: 2>&1) || true
echo "SVG against the 256 px PNG: $differing pixels differ"
[ "${differing%%.*}" -lt 256 ] 2>/dev/null || fail "the SVG does not draw the PNG's design"

# The validators: nothing at all from desktop-file-validate, no errors or warnings from
# appstreamcli (its pedantic remarks are listed but allowed), no warnings from man.
desktop-file-validate "$usr/share/applications/$id.desktop" >"$work/desktop.txt" 2>&1 || true
[ ! -s "$work/desktop.txt" ] || fail "desktop-file-validate: $(cat "$work/desktop.txt")"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/$id.metainfo.xml" ||
  fail "appstreamcli reports errors"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" | grep -q '^[EW]:' &&
  fail "appstreamcli reports warnings"
LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$usr/share/man/man6/q47.6" >/dev/null 2>"$work/man.txt"
[ ! -s "$work/man.txt" ] || fail "man: $(cat "$work/man.txt")"

# They name what was installed: the icon, the desktop entry, the executable.
grep -qx "Icon=$id" "$usr/share/applications/$id.desktop" || fail "the desktop entry's icon"
grep -qx "Exec=q47" "$usr/share/applications/$id.desktop" || fail "the desktop entry's command"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$usr/share/metainfo/$id.metainfo.xml" || fail "the metainfo's launchable"
grep -q "<binary>q47</binary>" "$usr/share/metainfo/$id.metainfo.xml" || fail "the metainfo's binary"

# The man page lists the options --help lists, no more and no fewer.
long_options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
"$usr/bin/q47" --help | long_options >"$work/help.txt"
MANWIDTH=200 man -l "$usr/share/man/man6/q47.6" 2>/dev/null | sed 's/‐/-/g' | long_options \
  >"$work/man-options.txt"
diff "$work/help.txt" "$work/man-options.txt" ||
  fail "the man page's options differ from --help (< only in --help, > only in the man page)"
grep -q "q47 $("$usr/bin/q47" --version | head -1 | cut -d' ' -f2)" <(man -l "$usr/share/man/man6/q47.6" 2>/dev/null) ||
  fail "the man page does not carry the executable's version"
echo "validators quiet; $(wc -l <"$work/help.txt") options in both --help and the man page"

# The hub's man page is quiet and lists its --help's options; the installed hub, moved, serves
# its own page.
if [ $hub = 1 ]; then
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$usr/share/man/man1/q47-hub.1" >/dev/null 2>"$work/man.txt"
  [ ! -s "$work/man.txt" ] || fail "man q47-hub: $(cat "$work/man.txt")"
  "$usr/bin/q47-hub" --help | long_options >"$work/help.txt"
  MANWIDTH=200 man -l "$usr/share/man/man1/q47-hub.1" 2>/dev/null | sed 's/‐/-/g' | long_options \
    >"$work/man-options.txt"
  diff "$work/help.txt" "$work/man-options.txt" ||
    fail "q47-hub's man page and --help name different options"
  mv "$root/usr" "$work/moved"
  # Marked, so that a page found anywhere else (the source tree) is told apart.
  echo "// installed" >>"$work/moved/share/q47-hub/page/hub.js"
  "$work/moved/bin/q47-hub" --listen 127.0.0.1:0 --database "$work/hub.sqlite3" >"$work/hub.txt" &
  hub_pid=$!
  for _ in $(seq 50); do grep -q serving "$work/hub.txt" && break; sleep 0.1; done
  port=$(sed -n 's|.*127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/hub.txt")
  page=$(curl -s "http://127.0.0.1:$port/hub.js" || true)
  kill "$hub_pid"
  wait "$hub_pid" || true
  [ "$page" = "$(cat "$work/moved/share/q47-hub/page/hub.js")" ] ||
    fail "the moved q47-hub does not serve its installed page"
  echo "q47-hub: man page quiet, options agree, its page found from a moved tree"
fi
echo "1 passed, 0 failed"
