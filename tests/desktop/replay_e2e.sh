#!/usr/bin/env bash
# replay_e2e.sh GAME: records a run of the real executable played with xdotool (the intro, level 1
# walled in and won, Escape), checks the recording and the kept last run with --verify, then the
# write that must fail cleanly and the files --verify must refuse. Run it under with-xvfb.
set -euo pipefail
game=$1
golden=$(cd "$(dirname "$0")/.." && pwd)/replays
work=$(mktemp -d)
chmod 755 "$work"
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
keep=${REPLAY_E2E_KEEP:-}
cd "$work"
export HOME=$work/home
unset XDG_STATE_HOME
export SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
chmod 777 "$HOME"

fail() {
  echo "replay_e2e: $*" >&2
  [ -n "$keep" ] && cp "$work"/*.q47r "$keep"/ 2>/dev/null
  exit 1
}
. "$(dirname "$0")/../support/e2e.sh"
# Starts the game with its arguments (as the user in $as, when set) and waits for its window.
# Muted: the run needs no sounds, and without them at hand the game would say so on stderr.
start() {
  if [ -n "${as:-}" ]; then
    setpriv --reuid="$as" --regid="$as" --clear-groups "$game" --mute "$@" 2>"$work/stderr" &
  else
    "$game" --mute "$@" 2>"$work/stderr" &
  fi
  pid=$!
  find_window "$pid" 100 'Q-47'
  focus_window
}
finish() {  # Escape, and the exit code must be 0
  xdotool keydown Escape
  local rc=0
  wait "$pid" || rc=$?
  pid=
  xdotool keyup Escape || true
  [ "$rc" = 0 ] || fail "exit code $rc: $(cat "$work/stderr")"
}

# --- A won level recorded ---
start --record "$work/run.q47r"
for _ in $(seq 12); do hold space; done
sleep 0.3
# The level put the pointer at the centre of the picture, (320, 240); level 1's cells are 16
# pixels and the board starts at x = 80. These four close the leak's room.
x=320
y=240
for cell in "10 12" "18 16" "10 17" "11 18"; do
  read -r cx cy <<<"$cell"
  tx=$((80 + cx * 16 + 8))
  ty=$((cy * 16 + 8))
  xdotool mousemove_relative -- $((tx - x)) $((ty - y))
  x=$tx
  y=$ty
  sleep 0.3
  xdotool mousedown 1; sleep 0.15; xdotool mouseup 1; sleep 0.3
done
hold Return
sleep 3  # the tally of 46 barriers takes 46 frames, longer on a busy machine
finish
[ -s "$work/stderr" ] && fail "the game said: $(cat "$work/stderr")"
last=$HOME/.local/state/q47/last.q47r
[ -f "$work/run.q47r" ] || fail "no recording"
[ -f "$last" ] || fail "no last run in $last"
cmp -s "$work/run.q47r" "$last" || fail "the last run differs from the recording"
leftovers=$(find "$work" "$HOME" -name '*.q47r.*' | wc -l)
[ "$leftovers" = 0 ] || fail "temporary files left: $(find "$work" "$HOME" -name '*.q47r.*')"

out=$("$game" --verify "$work/run.q47r") || fail "--verify of the recording failed: $out"
echo "recorded: $out"
[[ "$out" == "levels 1, score 46, "* ]] || fail "the recording did not replay to level 1 won with 46"
drawn=$("$game" --verify "$work/run.q47r" --draw) || fail "--verify --draw failed: $drawn"
[ "${out##*checksum }" = "${drawn##*checksum }" ] || fail "drawn checksum differs: $drawn"

# --- Watching: Space held runs four frames to one shown; Escape stops; the end ends the game ---
began=$(date +%s%N)
start --play "$golden/intro-level1-win.q47r"
xdotool keydown space
rc=0
wait "$pid" || rc=$?
pid=
xdotool keyup space
watched_ms=$((($(date +%s%N) - began) / 1000000))
[ "$rc" = 0 ] || fail "--play ended with $rc: $(cat "$work/stderr")"
# At normal speed the pacing alone makes 351 frames last 7020 ms, start-up not counted; at four
# frames to one shown they take a quarter of that.
echo "351 frames watched with Space held in $watched_ms ms"
[ "$watched_ms" -lt 7000 ] || fail "Space held did not speed the replay up"
start --play "$golden/level01-lose.q47r"
finish
[ -e "$HOME/.local/state/q47/last.q47r" ] && cmp -s "$work/run.q47r" "$HOME/.local/state/q47/last.q47r" ||
  fail "watching a replay replaced the last run"

# --- A recording that cannot be written: refused before the window opens, and a folder that
#     turns read-only during the game ends it with 2; the old file stays either way ---
mkdir "$work/locked"
echo old >"$work/locked/run.q47r"
chmod 555 "$work/locked"
as=
[ "$(id -u)" = 0 ] && as=65534  # root writes anywhere: the game runs as nobody for these
mkdir -m 777 "$work/other-home"
rc=0
HOME=$work/other-home setpriv --reuid="${as:-$(id -u)}" --regid="${as:-$(id -g)}" --clear-groups \
  "$game" --mute --record "$work/locked/run.q47r" 2>"$work/stderr" || rc=$?
[ "$rc" = 2 ] || fail "an unwritable --record gave $rc"
grep -qx "q47: cannot record the run: $work/locked/run.q47r: Permission denied" "$work/stderr" ||
  fail "no clear message: $(cat "$work/stderr")"
chmod 777 "$work/locked"
HOME=$work/other-home start --record "$work/locked/run.q47r"
chmod 555 "$work/locked"
xdotool keydown Escape
rc=0
wait "$pid" || rc=$?
pid=
xdotool keyup Escape || true
as=
[ "$rc" = 2 ] || fail "a recording lost at the end gave $rc"
[ "$(cat "$work/locked/run.q47r")" = old ] || fail "the old recording was changed"
[ "$(ls "$work/locked")" = run.q47r ] || fail "files left in the locked folder: $(ls "$work/locked")"
grep -q "^q47: cannot save the replay: $work/locked/run.q47r: Permission denied$" "$work/stderr" ||
  fail "no clear message: $(cat "$work/stderr")"
[ "$(wc -l <"$work/stderr")" = 1 ] || fail "more than one line: $(cat "$work/stderr")"

# --- Files --verify refuses with exit code 2 ---
refused() {  # FILE EXPECTED-MESSAGE
  local rc=0
  "$game" --verify "$1" >/dev/null 2>"$work/err" || rc=$?
  [ "$rc" = 2 ] || fail "--verify $1 gave $rc"
  [ "$(cat "$work/err")" = "q47: $1: $2" ] || fail "--verify $1 said: $(cat "$work/err")"
}
head -c 4000 /dev/urandom >"$work/random.q47r"
refused "$work/random.q47r" "not a Q-47 replay"
head -c 30 "$work/run.q47r" >"$work/short.q47r"
refused "$work/short.q47r" "truncated header"
refused "$work/missing.q47r" "No such file or directory"
refused "$work" "not a regular file"
echo "replay e2e passed"
