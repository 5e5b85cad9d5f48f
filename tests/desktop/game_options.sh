#!/usr/bin/env bash
# game_options.sh GAME: the command line through the real executable. Help and version on
# standard output with code 0; each misuse one line naming it plus the pointer to --help on
# standard error, code 2 and no window; --level 9 shows its 40 x 40 board in the first frame; a
# damaged settings file is one line on standard error and the game still starts. Run it under
# with-xvfb.
set -euo pipefail
game=$1
. "$(dirname "$0")/../support/e2e.sh"
failures=0
passed=0
fail() { echo "game_options: $*" >&2; failures=$((failures + 1)); }
windows() { xdotool search --name '^ZORARUVO' 2>/dev/null | wc -l; }
# A settings folder of the test's own, so no player's file changes what is seen.
export XDG_CONFIG_HOME="$work/config"

for args in "--help" "-h" "--version"; do
  rc=0
  "$game" $args >out 2>err || rc=$?
  if [ "$rc" = 0 ] && [ -s out ] && [ ! -s err ]; then passed=$((passed + 1)); else
    fail "'$args': exit $rc, $(wc -c <out) bytes out, $(wc -c <err) bytes err"
  fi
done
grep -q '^Usage: q47 \[OPTION\]' <("$game" --help) || fail "--help has no usage line"
grep -q '^q47 [0-9]' <("$game" --version) || fail "--version does not name the program"

while IFS='|' read -r args problem; do
  rc=0
  # shellcheck disable=SC2086
  "$game" $args >out 2>err || rc=$?
  expected=$(printf '%s\n%s' "q47: $problem" "Try 'q47 --help'.")
  if [ "$rc" = 2 ] && [ ! -s out ] && [ "$(cat err)" = "$expected" ] && [ "$(windows)" = 0 ]; then
    passed=$((passed + 1))
  else
    fail "'$args': exit $rc, stdout '$(cat out)', stderr '$(cat err)'"
  fi
done <<'CASES'
--bogus|unrecognized option '--bogus'
-z|unrecognized option '-z'
--scale|option '--scale' requires an argument
--scale 0|invalid scale '0' (a whole number from 1 to 8, or auto)
--scale big|invalid scale 'big' (a whole number from 1 to 8, or auto)
--level 100|invalid level '100' (a whole number from 1 to 99)
--level|option '--level' requires an argument
--mute=1|option '--mute' doesn't allow an argument
--palette grey|invalid palette 'grey' (plain or marked)
extra|unexpected argument 'extra'
CASES

# --level 9: the first frame already shows the board, not a story screen.
"$game" --level 9 --mute 2>"$work/stderr" &
pid=$!
find_window "$pid"
if [ -n "$wid" ]; then
  sleep 0.5
  import -window "$wid" -depth 8 "$work/level9.ppm"
  # Share of lit pixels in the board's square: level 9's ring of discs and its walls light some
  # tenths of it; a story screen is black but for one line of text.
  lit=$(convert "$work/level9.ppm" -crop 480x480+80+0 -threshold 10% -format '%[fx:int(mean*1000)]' info:)
  if [ "$lit" -gt 60 ]; then passed=$((passed + 1)); else fail "--level 9: $lit/1000 of the board lit"; fi
  kill -TERM "$pid"
  wait "$pid" || true
  pid=
fi
# A settings file of binary junk: named in one line, and the game opens its window regardless.
mkdir -p "$work/config/q47"
printf '\177ELF\0\0\1music_volume 3\n' >"$work/config/q47/settings"
"$game" --level 9 --mute 2>"$work/stderr" &
pid=$!
find_window "$pid"
expected="q47: $work/config/q47/settings: not a settings file (binary data); the defaults are used"
if [ -n "$wid" ] && [ "$(cat "$work/stderr")" = "$expected" ]; then passed=$((passed + 1)); else
  fail "damaged settings: window '$wid', stderr '$(cat "$work/stderr")'"
fi
if [ -n "$wid" ]; then
  kill -TERM "$pid"
  wait "$pid" || true
fi
pid=

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
