#!/usr/bin/env bash
# installed_game.sh TOOL (BUILD_DIR | --tree USR_DIR BINDIR DATADIR): the installed game, started
# from an unrelated folder on SDL's disk audio driver, finds its sounds through the folder
# relative to its executable: the intro's warning is in the recording. With the data folder
# emptied it still starts and plays, and standard error names the missing files in one line.
# With BUILD_DIR the build is installed into a temporary folder and the tree moved before the
# runs; with --tree an installed tree (bindir and data folder relative to USR_DIR) is used as is.
# Run it under with-xvfb.
set -euo pipefail
tool=$1
work=$(mktemp -d)
game_pid=
data=
cleanup() {
  [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null && wait "$game_pid" 2>/dev/null
  # A tree given with --tree gets its sounds back, whatever happened.
  if [ -n "$data" ] && [ -n "$(ls -A "$work/away" 2>/dev/null)" ]; then mv "$work/away"/* "$data/"; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "installed_game: $*" >&2; exit 1; }

if [ "$2" = --tree ]; then
  usr=$3 bindir=$4 datadir=$5
else
  # Installed for /usr, then moved: only a path relative to the executable can still work.
  DESTDIR=$work/staged cmake --install "$2" --prefix /usr >/dev/null
  mv "$work/staged/usr" "$work/moved"
  usr=$work/moved bindir=bin datadir=share/q47
fi
game=$usr/$bindir/q47
data=$usr/$datadir
[ -f "$data/warn.wav" ] || fail "no sounds in $data"

# Nothing but the installed tree may supply the sounds: no XDG data folder, a working
# directory of its own, and the last run's replay kept in the test's folder.
mkdir -p "$work/elsewhere"
launch() {
  (cd "$work/elsewhere" && XDG_DATA_DIRS=$work/no-such-folder XDG_STATE_HOME=$work/state \
    SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/recording.raw exec "$game" 2>"$work/stderr") &
  game_pid=$!
  local wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --name '^ZORARUVO Q-47 : Ctrl\+F for fullscreen$' 2>/dev/null |
      head -1) || true
    [ -n "$wid" ] && break
    kill -0 "$game_pid" 2>/dev/null || fail "the game ended at start: $(cat "$work/stderr")"
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no window"
  xdotool windowfocus --sync "$wid"
}
quit() {
  xdotool keydown Escape
  local rc=0
  wait "$game_pid" || rc=$?
  game_pid=
  xdotool keyup Escape || true
  [ "$rc" = 0 ] || fail "exit code $rc: $(cat "$work/stderr")"
}

# The intro's first line sounds the warning at once; give it time to play out.
launch
sleep 2
quit
"$tool" warn "$work/recording.raw" "$data/warn.wav" ||
  fail "the warning was not heard: the data folder was not found ($(cat "$work/stderr"))"
! grep -q '^q47:' "$work/stderr" || fail "complaints: $(cat "$work/stderr")"
echo "from $game: the warning was heard"

# An empty data folder: the game plays on through the intro in silence and says what is missing.
mkdir "$work/away"
mv "$data"/* "$work/away/"
launch
sleep 1
for _ in 1 2 3; do
  xdotool keydown space; sleep 0.15; xdotool keyup space; sleep 0.2
  kill -0 "$game_pid" 2>/dev/null || fail "the game ended: $(cat "$work/stderr")"
done
quit
mv "$work/away"/* "$data/"
echo "standard error without sounds:"
cat "$work/stderr"
[ "$(grep -c 'no usable sound file' "$work/stderr")" = 1 ] ||
  fail "the missing files are not named exactly once"
for file in warn.wav clean.wav click.wav win.wav lose.wav bump.wav take.wav nitr.wav cant.wav \
  q47.ogg; do
  grep -q "no usable sound file.*$file" "$work/stderr" || fail "$file is not named as missing"
done
echo "1 passed, 0 failed"
