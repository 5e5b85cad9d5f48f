#!/usr/bin/env bash
# input_faults.sh CASE GAME [E2E_TOOL INPUT_TOOL]: one fault a player meets, through the real
# executable. The display cases run under with-xvfb.
#   refocus_click      focus away and back with a click on another cell: no barrier on the cell
#                      the pointer left, and the system pointer stays where the player put it
#   shutdown_requests  SIGTERM, SIGINT, SIGHUP and the close request end the game with code 0,
#                      in full screen as in the window
#   fatal_reasons      a failed start says why on standard error, the box's text unchanged
set -euo pipefail
case_name=$1
game=$2
e2e_tool=${3:-}
input_tool=${4:-}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

fail() { echo "input_faults $case_name: $*" >&2; exit 1; }
. "$(dirname "$0")/../support/e2e.sh"
# start_game: the game in the background with its window found and given the focus.
start_game() {
  # A background job of a script starts with SIGINT ignored; with job control it keeps the
  # default a game started from a terminal has.
  set -m
  "$game" 2>"$work/stderr" &
  pid=$!
  set +m
  pids+=("$pid")
  find_window "$pid"
  focus_window
}
# ends_with_zero SECONDS: the game ends within that long with exit code 0.
ends_with_zero() {
  for _ in $(seq $(($1 * 20))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$pid" 2>/dev/null && fail "$what: still running $1 s later"
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" = 0 ] || fail "$what: exit code $rc: $(cat "$work/stderr")"
  echo "$what: ended, exit code 0"
}
window_origin() {
  local info
  info=$(xwininfo -id "$wid")
  origin_x=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$info")
  origin_y=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$info")
}

refocus_click() {
  start_game
  for i in $(seq 12); do
    if [ $((i % 2)) -eq 0 ]; then hold Return; else hold space; fi
  done
  sleep 0.3
  window_origin
  # Cell A, open floor in level 1, where the game's pointer is left.
  local ax=200 ay=80 bx=200 by=176
  xdotool mousemove $((origin_x + ax)) $((origin_y + ay))
  sleep 0.3
  # Away to another program's window, then over cell B, and back with a click there.
  xmessage -geometry +1000+900 elsewhere &
  pids+=($!)
  local other=
  for _ in $(seq 50); do
    other=$(xdotool search --name '^xmessage$' 2>/dev/null | head -1) || true
    [ -n "$other" ] && break
    sleep 0.1
  done
  [ -n "$other" ] || fail "no second window"
  xdotool windowfocus --sync "$other"
  sleep 0.3
  xdotool mousemove $((origin_x + bx)) $((origin_y + by))
  sleep 0.3
  xdotool windowfocus "$wid" mousedown 1
  sleep 0.15
  xdotool mouseup 1
  sleep 0.3
  # A second click on B, now certainly after the game took the pointer.
  xdotool mousedown 1; sleep 0.15; xdotool mouseup 1
  sleep 0.3
  eval "$(xdotool getmouselocation --shell)"
  echo "system pointer at ($((X - origin_x)), $((Y - origin_y))) in the window"
  [ "$X" = $((origin_x + bx)) ] && [ "$Y" = $((origin_y + by)) ] ||
    fail "the system pointer was pulled away from cell B"
  shot after
  if "$e2e_tool" wall "$work/after.ppm" "$ax" "$ay"; then
    fail "a barrier appeared on cell A, which the pointer had left"
  fi
  "$e2e_tool" wall "$work/after.ppm" "$bx" "$by" || fail "no barrier on cell B, under the pointer"
  "$e2e_tool" count-reference 49 "$work/count49.ppm" >/dev/null
  "$e2e_tool" same "$work/after.ppm" "$work/count49.ppm" 0 400 || fail "not exactly one barrier placed"
  what=Escape
  xdotool keydown Escape
  ends_with_zero 5
  xdotool keyup Escape
}

# full_screen: Ctrl+F, then the full-screen window's id in full_wid.
full_screen() {
  xdotool keydown ctrl; hold f; xdotool keyup ctrl
  full_wid=
  for _ in $(seq 100); do
    full_wid=$(xdotool search --name '^ZORARUVO Q-47$' 2>/dev/null | head -1) || true
    [ -n "$full_wid" ] && break
    sleep 0.05
  done
  [ -n "$full_wid" ] || fail "no full-screen window after Ctrl+F"
  sleep 0.8
  kill -0 "$pid" 2>/dev/null || fail "the game ended on Ctrl+F: $(cat "$work/stderr")"
}

shutdown_requests() {
  for signal in TERM INT HUP; do
    what="SIG$signal in full screen"
    start_game
    full_screen
    kill -s "$signal" "$pid"
    ends_with_zero 5
  done
  what="close request in full screen"
  start_game
  full_screen
  "$input_tool" close "$full_wid"
  ends_with_zero 5
  what="SIGHUP in the window"
  start_game
  kill -s HUP "$pid"
  ends_with_zero 5
  # Under nohup the hangup stays ignored: the game is still running afterwards.
  what="SIGHUP under nohup"
  nohup "$game" >/dev/null 2>"$work/stderr" &
  pid=$!
  pids+=("$pid")
  sleep 1.5
  kill -s HUP "$pid"
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "$what: the game ended"
  kill -s TERM "$pid"
  ends_with_zero 5
}

# expect_reason LINE ENV...: the game, started with ENV, fails with exit code 1 and LINE.
expect_reason() {
  local line=$1
  shift
  local rc=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$@" timeout 20 "$game" 2>"$work/stderr" || rc=$?
  [ "$rc" = 1 ] || fail "$*: exit code $rc: $(cat "$work/stderr")"
  grep -qxF "$line" "$work/stderr" || fail "$*: no line '$line' in: $(cat "$work/stderr")"
  echo "$*: $line"
}

fatal_reasons() {
  local number=4071
  while [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
  local box="ZORARUVO Q-47 - Error: Screen could not be initialized!"
  expect_reason "$box (x11: no display \":$number\")" DISPLAY=":$number"
  expect_reason "$box (no display: neither DISPLAY nor WAYLAND_DISPLAY is set)"
  expect_reason "$box (q47nodriver not available)" DISPLAY=":$number" SDL_VIDEODRIVER=q47nodriver
}

case "$case_name" in
  refocus_click | shutdown_requests | fatal_reasons) "$case_name" ;;
  *) fail "unknown case" ;;
esac
echo "1 passed, 0 failed"
