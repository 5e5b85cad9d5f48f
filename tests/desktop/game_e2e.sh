#!/usr/bin/env bash
# game_e2e.sh GAME TOOL: plays the real executable on an X display with xdotool, the way a
# person would: the window, the intro, level 1, one barrier, Escape. Run it under with-xvfb.
set -euo pipefail
game=$1
tool=$2
. "$(dirname "$0")/../support/e2e.sh"

fail() { echo "game_e2e: $*" >&2; exit 1; }

"$game" 2>"$work/stderr" &
pid=$!
find_window "$pid"

# The window's title and client size.
title=$(xdotool getwindowname "$wid")
[ "$title" = "ZORARUVO Q-47 : Ctrl+F for fullscreen" ] || fail "title is '$title'"
geometry=$(xwininfo -id "$wid")
width=$(awk '/Width:/ {print $2}' <<<"$geometry")
height=$(awk '/Height:/ {print $2}' <<<"$geometry")
[ "$width" = 640 ] && [ "$height" = 480 ] || fail "window is ${width}x$height"
echo "window '$title' ${width}x$height"

focus_window
# The window can exist a while before its first frame on a busy machine: look again for up to
# five seconds before calling the intro wrong.
for _ in $(seq 50); do
  shot intro
  "$tool" intro "$work/intro.ppm" >/dev/null 2>&1 && break
  sleep 0.1
done
"$tool" intro "$work/intro.ppm" || fail "the intro's first line is not a red WARNING above the middle"

# Twelve lines, then the level: Space, Enter and keypad Enter all advance, each a tap (down and
# up in one go, as xdotool and a quick finger send them) that must not fall between two frames.
for i in $(seq 12); do
  case $((i % 3)) in
    0) xdotool key Return ;;
    1) xdotool key space ;;
    2) xdotool key KP_Enter ;;
  esac
  sleep 0.1
done
sleep 0.3

# The game put its pointer at the centre; move it onto open floor and click there with a click
# whose press and release come together, as a touchpad's tap-to-click sends it.
xdotool mousemove_relative -- -120 -160
sleep 0.3
xdotool click 1
sleep 0.3
eval "$(xdotool getmouselocation --shell)"
origin_x=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$(xwininfo -id "$wid")")
origin_y=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$(xwininfo -id "$wid")")
px=$((X - origin_x))
py=$((Y - origin_y))
echo "pointer at ($px, $py) in the window"
shot placed
"$tool" wall "$work/placed.ppm" "$px" "$py" || fail "no barrier under the pointer"
"$tool" count-reference 49 "$work/count49.ppm" >/dev/null
"$tool" count-reference 50 "$work/count50.ppm" >/dev/null
"$tool" same "$work/placed.ppm" "$work/count49.ppm" 0 400 || fail "the count does not show 49"
if "$tool" same "$work/placed.ppm" "$work/count50.ppm" 0 400 >/dev/null; then
  fail "the count still shows 50"
fi

# Keys alone: an arrow takes the cursor one cell on from the pointer's, Space places there.
xdotool key Right
sleep 0.2
xdotool key space
sleep 0.3
shot keyed
"$tool" count-reference 48 "$work/count48.ppm" >/dev/null
"$tool" same "$work/keyed.ppm" "$work/count48.ppm" 0 400 || fail "keys alone placed no barrier"

# Escape, tapped: the window hides, and half a second later the process ends with code 0.
xdotool key Escape
hidden_at=
for _ in $(seq 200); do
  if ! xwininfo -id "$wid" 2>/dev/null | grep -q 'Map State: IsViewable'; then
    hidden_at=$(date +%s%N)
    break
  fi
  sleep 0.02
done
[ -n "$hidden_at" ] || fail "the window did not hide"
kill -0 "$pid" 2>/dev/null || fail "the process ended before its window was seen hidden"
rc=0
wait "$pid" || rc=$?
pid=
ended_at=$(date +%s%N)
[ "$rc" = 0 ] || fail "exit code $rc: $(cat "$work/stderr")"
shown_ms=$(((ended_at - hidden_at) / 1000000))
echo "hidden ${shown_ms} ms before the process ended, exit code $rc"
[ "$shown_ms" -ge 300 ] || fail "the process ended only $shown_ms ms after hiding"
echo "1 passed, 0 failed"
