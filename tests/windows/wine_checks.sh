#!/usr/bin/env bash
# wine_checks.sh PART NATIVE_GAME SOURCE_DIR WINDOWS_DIR: the Windows build (made beforehand by
# windows/build into WINDOWS_DIR) run under wine, in a wine prefix of its own in a temporary
# folder, and held to this build's native game NATIVE_GAME. PART is one of:
#   verify     every golden run's --verify line is the native line
#   pictures   --picture of the frames the browser tests use is the native picture, pixel for pixel
#   files      --export-levels writes the native pack byte for byte, --check reads it alike, a
#              bad pack is refused with the native message and exit code, and --submit says
#              this build has no hub client
#   editor     a new pack made in the level editor with keys (under Xvfb: with-xvfb) and saved
#              with Ctrl+S is the native editor's save byte for byte
#   sound      the game started on SDL's disk audio driver records the intro's warning sound as the
#              native game records it, within rounding
#   installer  the installer installs silently, the game runs from the Start menu's path, and the
#              uninstaller takes away every file, shortcut and registry key it made
# Wine's exit status is never taken alone: each check reads outputs, files or the registry too.
set -uo pipefail
part=$1
native=$2
source_dir=$3
windows_dir=$4
work=$(mktemp -d)
cleanup() {
  # Only this prefix's wine server: it ends with its programs.
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "wine_checks $part: $*" >&2; exit 1; }

game_dir="$windows_dir/cmake/Q-47"
exe="$game_dir/q47.exe"
[ -f "$exe" ] || fail "$exe is missing: build it first (windows/build, or ./run windows)"
command -v wine >/dev/null || fail "wine is missing (./run deps windows)"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko install prompts (the game needs neither), and no menu entries made for the
# Start menu's shortcuts in the desktop's menus; a home of its own keeps anything else wine
# writes out of the tester's.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$work/home"
mkdir -p "$HOME"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
# Only the editor's part has a display (with-xvfb's); the others run without one.
EDITOR_DISPLAY=${DISPLAY:-}
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w  # the registry is written when the prefix's server ends
[ -f "$WINEPREFIX/system.reg" ] || fail "wineboot made no prefix in $WINEPREFIX"

# wine_run ARGS...: q47.exe under wine; its standard output without the console's carriage returns.
wine_run() { wine "$exe" "$@" | tr -d '\r'; }
# A --verify line without its speed (frames/s), the one figure two runs of a replay may differ in.
without_speed() { sed -E 's/, [0-9.]+ frames\/s//'; }

# record FILE COMMAND...: the game started by COMMAND in its own folder (or in $from) on SDL's
# disk audio driver into FILE, stopped 3 s after the recording began (the intro's first line
# sounds the warning at once).
tool=${5:-}
record() {
  (cd "${from:-$game_dir}" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$1 SDL_VIDEODRIVER=offscreen \
    exec timeout 20 "${@:2}" >/dev/null 2>&1) &
  local runner=$! waited=0
  while [ ! -s "$1" ] && [ $waited -lt 150 ]; do sleep 0.1; waited=$((waited + 1)); done
  sleep 3
  kill "$runner" 2>/dev/null
  wait "$runner" 2>/dev/null
}

replays="$source_dir/tests/replays"
case "$part" in
verify)
  count=0
  for replay in "$replays"/*.q47r; do
    want=$("$native" --verify "$replay" 2>&1 | without_speed)
    got=$(wine_run --verify "$replay" 2>&1 | without_speed)
    # Once in some hundred runs wine has reported a page fault in a thread at a run's end, after
    # the right line was printed; not yet understood. It is said, and the run is made once more:
    # a fault that comes again fails the check.
    if [[ $got == *"Unhandled page fault"* ]]; then
      echo "wine_checks verify: $(basename "$replay"): wine reported a fault; run again: $got" >&2
      got=$(wine_run --verify "$replay" 2>&1 | without_speed)
    fi
    [ -n "$want" ] || fail "no native line for $replay"
    [ "$got" = "$want" ] || fail "$(basename "$replay"): wine '$got', native '$want'"
    count=$((count + 1))
  done
  [ "$count" -ge 20 ] || fail "only $count golden runs found in $replays"
  echo "$count golden runs verify under wine to the native lines"
  ;;
pictures)
  frames="intro-level1-win:40 intro-level1-win:245 intro-level1-win:300 level09-win:50 level09-win:300:marked"
  for frame in $frames; do
    IFS=: read -r name number palette <<<"$frame"
    marked=()
    [ -n "$palette" ] && marked=(--palette "$palette")
    "$native" --verify "$replays/$name.q47r" --picture "$work/native.png" --frame "$number" \
      "${marked[@]}" >/dev/null || fail "native --picture of $name frame $number"
    rm -f "$work/wine.png"
    wine_run --verify "$replays/$name.q47r" --picture "$work/wine.png" --frame "$number" \
      "${marked[@]}" >/dev/null
    [ -s "$work/wine.png" ] || fail "no picture of $name frame $number under wine"
    # The pixels, not the PNG bytes: equal pictures may compress alike or not.
    differing=$(compare -metric AE "$work/native.png" "$work/wine.png" null: 2>&1) || true
    [ "$differing" = 0 ] || fail "$name frame $number: $differing pixels differ"
    echo "$name frame $number: 0 pixels differ"
  done
  ;;
files)
  "$native" --export-levels "$work/native.q47l" || fail "native export failed"
  wine_run --export-levels "$work/wine.q47l" >/dev/null
  cmp "$work/native.q47l" "$work/wine.q47l" || fail "the exported packs differ"
  packs=("$work"/*.q47l)
  [ ${#packs[@]} = 2 ] || fail "the export left other files: ${packs[*]}"
  # A folder and a name outside ASCII: the program's paths are UTF-8 on Windows too.
  mkdir -p "$work/Kü ß"
  wine_run --export-levels "$work/Kü ß/päck.q47l" >/dev/null
  cmp "$work/native.q47l" "$work/Kü ß/päck.q47l" || fail "the pack under a non-ASCII name differs"
  # Written again over itself: Windows refuses a plain rename onto an existing file.
  wine_run --export-levels "$work/wine.q47l" >/dev/null
  cmp "$work/native.q47l" "$work/wine.q47l" || fail "the pack written over itself differs"
  want=$("$native" --check "$source_dir/levels/first-shift.q47l")
  got=$(wine_run --check "$source_dir/levels/first-shift.q47l")
  [ "$got" = "$want" ] || fail "--check: wine '$got', native '$want'"
  printf 'q47-level-pack 1\nlevel\n  size 99\nend\n' >"$work/bad.q47l"
  want=$("$native" --check "$work/bad.q47l" 2>&1); want_rc=$?
  got=$(wine "$exe" --check "$work/bad.q47l" 2>&1 | tr -d '\r')
  wine "$exe" --check "$work/bad.q47l" >/dev/null 2>&1; got_rc=$?
  [ "$got_rc" = "$want_rc" ] || fail "a bad pack: exit $got_rc under wine, $want_rc native"
  [ "$got" = "$want" ] || fail "a bad pack: wine '$got', native '$want'"
  # No hub client in this build: --submit says so plainly and fails, never hangs or crashes.
  got=$(wine "$exe" --submit "$replays/level01-win.q47r" 2>&1 | tr -d '\r')
  wine "$exe" --submit "$replays/level01-win.q47r" >/dev/null 2>&1; got_rc=$?
  [ "$got_rc" = 2 ] || fail "--submit: exit $got_rc: $got"
  case "$got" in *"has no hub client"*) ;; *) fail "--submit does not say why: $got" ;; esac
  echo "the export, --check and a bad pack's refusal are the native ones; --submit: $got"
  ;;
editor)
  [ -n "${DISPLAY:-$EDITOR_DISPLAY}" ] || fail "no display: run it under with-xvfb"
  export DISPLAY=${DISPLAY:-$EDITOR_DISPLAY}
  # edit PACK COMMAND...: the editor on a new pack, three barriers added (b), saved (Ctrl+S),
  # left with Escape; its exit code must be 0.
  edit() {
    (SDL_VIDEODRIVER='' exec "${@:2}" --mute --edit "$1" 2>"$work/stderr") &
    local editor=$! wid='' rc=0
    for _ in $(seq 300); do
      wid=$(xdotool search --name '^ZORARUVO Q-47' 2>/dev/null | head -1) || true
      [ -n "$wid" ] && break
      kill -0 "$editor" 2>/dev/null || fail "the editor ended at start: $(cat "$work/stderr")"
      sleep 0.1
    done
    [ -n "$wid" ] || fail "no editor window"
    # Without a window manager nobody gives the window the keyboard; wine's window takes a
    # moment more than the native one before its keys reach the program.
    xdotool windowfocus --sync "$wid"
    sleep 3
    for key in b b b ctrl+s; do
      xdotool keydown "$key"; sleep 0.15; xdotool keyup "$key"; sleep 0.15
    done
    sleep 0.5
    xdotool keydown Escape; sleep 0.15; xdotool keyup Escape
    for _ in $(seq 100); do kill -0 "$editor" 2>/dev/null || break; sleep 0.1; done
    wait "$editor" || rc=$?
    [ "$rc" = 0 ] || fail "the editor ($2) ended with $rc: $(cat "$work/stderr")"
  }
  edit "$work/native.q47l" "$native"
  edit "$work/wine.q47l" wine "$exe"
  grep -qx '  barriers 15' "$work/native.q47l" || fail "the native editor missed keys"
  [ -f "$work/wine.q47l" ] || fail "the editor under wine saved nothing"
  cmp "$work/native.q47l" "$work/wine.q47l" ||
    fail "the saved packs differ: $(diff "$work/native.q47l" "$work/wine.q47l" | head -5)"
  echo "the editor's save under wine is the native save byte for byte"
  ;;
sound)
  # The intro's first line sounds the warning at once; a few seconds of the recording hold it.
  record "$work/native.raw" "$native"
  record "$work/wine.raw" wine "$exe"
  [ -s "$work/wine.raw" ] || fail "nothing recorded under wine"
  "$tool" warn "$work/native.raw" "$game_dir/warn.wav" || fail "no warning in the native recording"
  "$tool" warn "$work/wine.raw" "$game_dir/warn.wav" || fail "the warning was not heard under wine"
  echo "the warning sounds under wine as natively"
  ;;
installer)
  setup=$(ls "$windows_dir"/q47-*-windows-x64-setup.exe 2>/dev/null | head -1)
  [ -n "$setup" ] || fail "no installer in $windows_dir (windows/build)"
  wine "$setup" /S >/dev/null 2>&1
  # Every program of the prefix ended: the registry is then on disk.
  wineserver -w
  appdata=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
  installed=$(winepath -u "$appdata\\Programs\\Q-47" 2>/dev/null)
  [ -f "$installed/q47.exe" ] || fail "nothing installed in $installed"
  for file in warn.wav q47.ogg fonts/LiberationSans-Regular.ttf uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer left out $file"
  done
  programs=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs")
  [ -f "$programs/Q-47.lnk" ] || fail "no Start menu entry in $programs"
  # The installer's keys, as wine keeps them: [Software\\Q-47] and [...\\Uninstall\\Q-47].
  keys='^\[Software\\\\(Q-47|Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Q-47)\]'
  [ "$(grep -cE "$keys" "$WINEPREFIX/user.reg")" = 2 ] ||
    fail "the installer's registry keys are missing: $(grep -E 'Q-47' "$WINEPREFIX/user.reg")"
  # The Start menu's entry started as Explorer starts it, from elsewhere: the game finds its
  # sounds in the folder the entry names.
  from=$work record "$work/start.raw" wine start /unix "$programs/Q-47.lnk"
  wineserver -k
  wineserver -w
  "$tool" warn "$work/start.raw" "$installed/warn.wav" >/dev/null ||
    fail "the game started from the Start menu played no warning sound"
  # The installed game from an unrelated folder: the same line as the native game.
  got=$(cd "$work" && wine "$installed/q47.exe" --verify "$replays/level01-win.q47r" |
    tr -d '\r' | without_speed)
  want=$("$native" --verify "$replays/level01-win.q47r" | without_speed)
  [ "$got" = "$want" ] || fail "the installed game: '$got', native '$want'"
  # The uninstaller copies itself away and returns at once; the copy ends with the prefix's
  # last program.
  wine "$installed/uninstall.exe" /S >/dev/null 2>&1
  wineserver -w
  [ ! -e "$installed" ] || fail "the uninstaller left $(find "$installed" | head -5 | paste -sd' ')"
  [ ! -e "$programs/Q-47.lnk" ] || fail "the uninstaller left the Start menu entry"
  ! grep -E "$keys" "$WINEPREFIX/user.reg" >&2 || fail "the uninstaller left registry keys"
  echo "installed, played from the Start menu's path, and uninstalled without a trace"
  ;;
*)
  fail "unknown part (verify, pictures, files, editor, sound, installer)"
  ;;
esac
