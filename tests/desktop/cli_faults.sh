#!/usr/bin/env bash
# cli_faults.sh GAME SOURCE_DIR: the command line under fire, without a display. Each row of the
# table runs the real executable and states its exit code, a line its standard error must hold,
# and, where it matters, what must (not) have happened to the files around it: no lost file, no
# silent failure, no output that claims success it did not have.
set -uo pipefail
game=$1
source_dir=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export -n DISPLAY WAYLAND_DISPLAY
unset DISPLAY WAYLAND_DISPLAY
export XDG_STATE_HOME="$dir/state" SDL_AUDIODRIVER=dummy
cd "$dir" || exit 1
passed=0
failed=0
fail() { echo "cli_faults: $*" >&2; failed=$((failed + 1)); }

# Files the rows work on.
"$game" --export-levels pack.q47l || { echo "cli_faults: no pack to work on" >&2; exit 1; }
cp "$source_dir/tests/replays/level01-win.q47r" run.q47r
mkfifo fifo
ln -s pack.q47l link.q47l
cp pack.q47l private.q47l && chmod 600 private.q47l
mkdir folder
make_pack() {  # make_pack NAME BARRIERS RATE THRESHOLD ROW... : a one-level pack
  local name=$1 barriers=$2 rate=$3 threshold=$4
  shift 4
  { printf 'q47-level-pack 1\nintro\n  white "HI"\nend\nlevel\n  size %d\n  barriers %d\n' "${#1}" "$barriers"
    printf '  rate %d\n  threshold %d\n  map\n' "$rate" "$threshold"
    printf '    %s\n' "$@"
    printf 'end\nfinal\n  white "~BYE"\nend\n'; } >"$name"
}
# A fast leak that only a drag walls in (the checker's own table tests the verdict itself).
make_pack drag.q47l 4 1100 1024 DDD...D. ........ .DD..... ...DD..D ...ID..D ..D....D .....DD. ...D....
# A "~" in a story block before the final one ends the game after the first level.
sed '0,/^story/s//story\n  white "~ TOO SOON"/' pack.q47l >tilde.q47l
tr '\n' '\r' <pack.q47l >mac.q47l
{ head -c 1000000 /dev/zero | tr '\0' x; echo; } >long.q47l

# expect CODE 'STDERR LINE (grep -E)' ARGS...: one run, its exit code and one line it says.
expect() {
  local code=$1 said=$2
  shift 2
  "$game" "$@" >out 2>err
  local rc=$?
  if [ "$rc" != "$code" ]; then
    fail "'$*': exit $rc, not $code; stderr: $(head -c 400 err)"
  elif [ -n "$said" ] && ! grep -qE -- "$said" err; then
    fail "'$*': stderr does not say /$said/: $(head -c 400 err)"
  elif [ "$(wc -l <err)" -gt 5 ]; then
    fail "'$*': $(wc -l <err) lines on standard error"
  else
    passed=$((passed + 1))
  fi
}
# check WHAT CONDITION...: a condition about the files after a row.
check() {
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else fail "$what"; fi
}

# 1. An empty file name is misuse, never "no file".
for option in --verify --play --export-levels --levels --record --write-replays; do
  expect 2 "option '$option' needs a file name, not an empty one" $option ""
done
expect 2 "--check needs a pack's file name" --check ""
check "an empty name left a last run" test ! -e state/q47/last.q47r

# 2. Writers replace only a regular file (or a link's file), keep its mode, refuse the rest.
expect 2 "fifo: not a regular file" --export-levels fifo
check "the FIFO was replaced" test -p fifo
expect 2 "folder: Is a directory" --export-levels folder
expect 2 "\\.: Is a directory" --export-levels .
expect 0 "" --export-levels link.q47l
check "the link is no longer a link" test -L link.q47l
expect 0 "" --export-levels private.q47l
check "a 0600 pack came back $(stat -c %a private.q47l)" test "$(stat -c %a private.q47l)" = 600
expect 2 "pack.q47l/x.q47l: Not a directory" --export-levels pack.q47l/x.q47l
expect 0 "" --export-levels -
check "--export-levels - printed no pack" grep -qx 'q47-level-pack 1' out

# 3. An output that is one of the run's inputs, by any name.
expect 2 "--record pack.q47l is the file the run reads \\(--levels pack.q47l\\)" --levels pack.q47l --record pack.q47l
expect 2 "--export-levels link.q47l is the file the run reads" --levels pack.q47l --export-levels link.q47l
check "the pack was overwritten" grep -qx 'q47-level-pack 1' pack.q47l

# 4. The recording's destination is checked before any window would open (there is no display
#    here: a run that got that far would fail with 1).
expect 2 "cannot record the run: missing/dir/r.q47r: No such file or directory" --record missing/dir/r.q47r
expect 2 "cannot record the run: folder: Is a directory" --record folder
expect 2 "cannot record the run: fifo: not a regular file" --record fifo

# 5. Output that never arrived is no success.
"$game" --check --json >/dev/full 2>err
check "--check --json >/dev/full: exit $?" grep -q "standard output: No space left" err
"$game" --verify run.q47r >/dev/full 2>err
check "--verify >/dev/full did not fail" grep -q "standard output: No space left" err
"$game" --export-levels - >/dev/full 2>/dev/null
check "--export-levels - >/dev/full: exit 0" test $? = 2

# 6. Options that would be dropped are refused, or mean what the manual says.
expect 2 "option '--record' given twice" --record a.q47r --record b.q47r
expect 2 "option '--verify' given twice" --verify run.q47r --verify run.q47r
expect 2 "only go with a window" --verify run.q47r -f --scale 3 --mute
expect 2 "only go with a window" --check --mute
expect 2 "--check takes its pack once" --check pack.q47l --levels drag.q47l
expect 0 "" --export-levels exported.q47l --levels drag.q47l
check "--export-levels with --levels did not write the pack in use" grep -q DDD...D. exported.q47l

# 7. A "~" outside the final block, and lines ended by lone carriage returns.
expect 2 "^tilde.q47l:[0-9]+:[0-9]+: a line starting with '~' ends the game" --check tilde.q47l
expect 2 "^mac.q47l:1:[0-9]+: lines end in a lone carriage return" --check mac.q47l
expect 2 "not 'x{40}\\.\\.\\.' \\(1000000 characters\\)" --check long.q47l
check "a long word was echoed whole: $(wc -c <err) bytes" test "$(wc -c <err)" -lt 400

# 8. The checker says "no plan" (not "cannot be won"), and both a lost replay and a level
#    without a plan are said.
make_pack lost.q47l 1 16 1024 I... .... .... ....
expect 1 "no winning plan found for level 1" --check lost.q47l
check "an unwinnable level's row: $(tail -1 out)" grep -qE ' no plan ' out
sed -n '/^level/,/^end/p' lost.q47l >lost-level
sed '/^final/e cat lost-level' drag.q47l >both.q47l
expect 2 "no winning plan found for level 2" --check both.q47l --write-replays pack.q47l
check "the lost replay was not said: $(cat err)" grep -q "pack.q47l/level01.q47r: Not a directory" err

# 10. The same failure, the same code; the state folder told at start, and $HOME never made.
expect 2 "missing.q47r: No such file or directory" --verify missing.q47r
expect 2 "missing.q47l: No such file or directory" --levels missing.q47l
touch state-file
XDG_STATE_HOME=$dir/state-file expect 1 "cannot keep the last run: $dir/state-file: not a folder" --mute
env -u XDG_STATE_HOME HOME="$dir/nohome" "$game" --mute >out 2>err
check "a missing HOME was made" test ! -e "$dir/nohome"
check "a missing HOME was not said: $(cat err)" grep -q "cannot keep the last run: $dir/nohome: the home folder does not exist" err

# A frame's picture for a bug report: a 640 x 480 PNG, or a clear refusal past the run's end.
expect 0 "" --verify run.q47r --frame 100 --picture frame.png
check "--picture wrote no 640x480 PNG" test "$(od -An -tx1 -j16 -N8 frame.png | tr -d ' ')" = 00000280000001e0
expect 2 "--frame 99999: the run has only [0-9]+ frames" --verify run.q47r --frame 99999 --picture late.png
check "a picture past the end was written" test ! -e late.png

# 11. A picture written over the run's own input, by any name, is refused and writes nothing.
ln -s run.q47r runlink.q47r
expect 2 "--picture pack.q47l is the file the run reads \\(--levels pack.q47l\\)" --levels pack.q47l --verify run.q47r --picture pack.q47l
expect 2 "--picture run.q47r is the file the run reads \\(--verify run.q47r\\)" --verify run.q47r --picture run.q47r
expect 2 "--picture runlink.q47r is the file the run reads" --verify run.q47r --picture runlink.q47r
check "the replay was overwritten by its picture" test "$(head -c 8 run.q47r)" = Q47RPLAY
check "the pack was overwritten by a picture" grep -qx 'q47-level-pack 1' pack.q47l

# 12. Every option given twice is misuse, agreeing or not, by either of its names; --levels
#     does not go with the editor, which edits the pack it is given. (The replay comes afresh:
#     a build that wrote a picture over it would spoil every row after; the pack too.)
cp "$source_dir/tests/replays/level01-win.q47r" run.q47r
"$game" --export-levels pack.q47l
expect 2 "option '--scale' given twice" --scale 2 --scale 1
expect 2 "option '--level' given twice" --level 2 --level 1
expect 2 "option '--frame' given twice" --verify run.q47r --picture twice.png --frame 3 --frame 1
expect 2 "option '--fullscreen' given twice" -f -f
expect 2 "option '--fullscreen' given twice" -f --fullscreen
expect 2 "option '--mute' given twice" --mute --mute
expect 2 "option '--check' given twice" --check --check
expect 2 "option '--json' given twice" --check --json --json
expect 2 "option '--draw' given twice" --verify run.q47r --draw --draw
expect 2 "--levels and --edit exclude each other" --levels pack.q47l --edit new.q47l
check "a refused run wrote its picture or made a pack" test ! -e twice.png -a ! -e new.q47l

# 13. Names of 255 bytes, the longest a folder holds, are written like any other.
long=$(printf 'x%.0s' $(seq 250))
expect 0 "" --export-levels "$long.q47l"
check "a 255-byte pack name was not written" grep -qx 'q47-level-pack 1' "$long.q47l"
expect 0 "" --verify run.q47r --picture "${long}p.png"
check "a 255-byte picture name was not written" test -s "${long}p.png"
# The recording's name is accepted; only the missing display stops the game here.
expect 1 "" --record "$long.q47r"
check "temporary files were left behind: $(ls -A | grep '^\.')" test -z "$(ls -A | grep '^\.')"

# 14. Messages that name the real problem: a binary file given as a pack, an abbreviation of
#     two options, the options a window takes.
printf '\x89PNG\r\n\x1a\n' >picture.q47l
expect 2 "^run.q47r:1:[0-9]+: not a text file \\(a NUL byte\\)" --check run.q47r
expect 2 "^picture.q47l:1:1: not a text file \\(not UTF-8\\)" --levels picture.q47l
expect 2 "option '--ver' is ambiguous; possibilities: '--version' '--verify'" --ver
expect 2 "unrecognized option '--verbose'" --verbose
expect 2 "only go with a window \\(a game, --play or --edit\\)" --check --mute

echo "cli_faults: $passed passed, $failed failed"
[ "$failed" = 0 ]
