#!/usr/bin/env bash
# settings_e2e.sh GAME: the settings screen through the real executable. F2 over a game, the
# music one step down and the palette marked with the keys, the game quit: the settings file
# holds both; started again, the screen shows them as they were left. A folder that cannot hold
# the file is one line on standard error and the game plays on. Run it under with-xvfb.
set -euo pipefail
game=$1
. "$(dirname "$0")/../support/e2e.sh"
failures=0
passed=0
fail() { echo "settings_e2e: $*" >&2; failures=$((failures + 1)); }
check() { if eval "$2"; then passed=$((passed + 1)); else fail "$1"; fi; }
export XDG_CONFIG_HOME="$work/config"
file="$XDG_CONFIG_HOME/q47/settings"

# start: the game on level 1, windowed, found and focused.
start() {
  "$game" --level 1 --mute --scale 1 2>"$work/stderr" &
  pid=$!
  find_window "$pid"
  focus_window
}
quit() {
  hold Escape
  wait "$pid" || true
  pid=
}

start
hold F2
shot defaults
hold Down
hold Left      # music 100 -> 90
hold Down
hold Return    # palette plain -> marked
hold Up
hold Up        # back on the first row, as the screen opens
shot changed
hold Escape    # closes the screen; the game goes on
check "the game ended with the screen" 'kill -0 "$pid" 2>/dev/null'
quit
check "no settings file after the changes" '[ -f "$file" ]'
check "music volume not kept: $(cat "$file" 2>/dev/null)" 'grep -qx "music_volume 90" "$file"'
check "palette not kept" 'grep -qx "palette marked" "$file"'
check "the effects volume changed too" 'grep -qx "effects_volume 100" "$file"'
check "the screen did not change: $(compare -metric AE "$work/defaults.ppm" "$work/changed.ppm" null: 2>&1 || true)" \
  '! compare -metric AE "$work/defaults.ppm" "$work/changed.ppm" null: 2>/dev/null'

# Again: what the screen shows is what was left.
start
hold F2
shot again
hold Escape
quit
check "the second start's screen differs from the first's: $(compare -metric AE "$work/changed.ppm" "$work/again.ppm" null: 2>&1 || true)" \
  'compare -metric AE "$work/changed.ppm" "$work/again.ppm" null: 2>/dev/null'
check "the second run said something: $(cat "$work/stderr")" '[ ! -s "$work/stderr" ]'

# A settings folder that cannot be made (a file has its name): said once a change, the game
# plays on.
mv "$XDG_CONFIG_HOME/q47" "$work/kept"
touch "$XDG_CONFIG_HOME/q47"
start
hold F2
hold Down
hold Left      # music 100 -> 90 (the file cannot be read either)
check "the game ended on a failed save" 'kill -0 "$pid" 2>/dev/null'
hold Escape
quit
check "a failed save not said in one line: $(cat "$work/stderr")" \
  '[ "$(grep -c "^q47: cannot keep the settings: " "$work/stderr")" = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ]'
check "the settings folder was replaced" '[ -f "$XDG_CONFIG_HOME/q47" ] && grep -qx "music_volume 90" "$work/kept/settings"'

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
