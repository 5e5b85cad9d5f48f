#!/usr/bin/env bash
# game_scale.sh GAME TOOL SCALE: the real executable on this X server's desktop (run it under
# with-xvfb with XVFB_SCREEN set), where --scale auto must choose SCALE. The window's client
# size; the intro as the game's own frame in SCALE x SCALE blocks; from scale 2 on, clicks on
# cell centres place barriers in exactly those cells, the outlined cell follows the system
# pointer moved a pixel at a time, and after a resize to no whole scale both hold in the
# smaller picture between black bars. On a 1280 x 800 desktop, full screen fills its height.
set -euo pipefail
game=$1
tool=$2
scale=$3
. "$(dirname "$0")/../support/e2e.sh"
failures=0
passed=0
fail() { echo "game_scale: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; passed=$((passed + 1)); }
info() { xwininfo -id "$wid" | awk -v key="$1" 'index($0, key) {print $NF}'; }

# Starts the game with the given options and waits for its window.
start() {
  "$game" "$@" 2>"$work/stderr" &
  pid=$!
  # A missing window ends the whole script: nothing after it could be checked.
  fail() { echo "game_scale: $*" >&2; exit 1; }
  find_window "$pid" 150
  fail() { echo "game_scale: $*" >&2; failures=$((failures + 1)); }
  focus_window 1
}

stop() {
  kill -TERM "$pid"
  wait "$pid" || true
  pid=
}

# Moves the system pointer to window pixel (x, y), clicks the left button there.
click_at() {
  xdotool mousemove --window "$wid" "$1" "$2"
  sleep 0.25
  xdotool mousedown 1
  sleep 0.15
  xdotool mouseup 1
  sleep 0.25
}

# Where the system pointer is, in the window's pixels: sets px and py.
pointer_in_window() {
  eval "$(xdotool getmouselocation --shell)"
  px=$((X - $(info 'Absolute upper-left X:')))
  py=$((Y - $(info 'Absolute upper-left Y:')))
}

# Clicks the centres of the cells listed ("C R C R ...") in a picture at scale n from (x0, y0),
# and checks that exactly those cells took a barrier.
place_and_check() {
  local n=$1 x0=$2 y0=$3 name=$4
  shift 4
  local cells=("$@")
  for ((i = 0; i < ${#cells[@]}; i += 2)); do
    click_at $((x0 + n * (80 + 16 * cells[i] + 8))) $((y0 + n * (16 * cells[i + 1] + 8)))
  done
  sleep 0.3
  shot "$name"
  "$tool" sample "$work/$name.ppm" "$n" "$x0" "$y0" "$work/$name-frame.ppm"
  if "$tool" walls "$work/$name-frame.ppm" "${placed[@]}" "${cells[@]}"; then
    ok "$name: barriers in exactly the clicked cells"
  else
    fail "$name: the barriers are not where the clicks were"
  fi
  placed+=("${cells[@]}")
}

# Moves the system pointer steps times by (dx, dy) one pixel at a time, then checks that the
# outlined cell is the one under it in a picture at scale n from (x0, y0).
steps_and_check() {
  local n=$1 x0=$2 y0=$3 dx=$4 dy=$5 steps=$6 name=$7
  for ((i = 0; i < steps; i++)); do xdotool mousemove_relative -- "$dx" "$dy"; done
  sleep 0.6  # the cells left behind fade out
  pointer_in_window
  shot "$name"
  "$tool" sample "$work/$name.ppm" "$n" "$x0" "$y0" "$work/$name-frame.ppm"
  if "$tool" highlight "$work/$name-frame.ppm" $(((px - x0) / n)) $(((py - y0) / n)); then
    ok "$name: the outlined cell is under the system pointer"
  else
    fail "$name: the outlined cell is not under the system pointer at ($px, $py)"
  fi
}

# --- The window and the intro ---
"$tool" intro-reference "$work/intro-ref.ppm"
start --mute
width=$(info 'Width:')
height=$(info 'Height:')
if [ "$width" = $((640 * scale)) ] && [ "$height" = $((480 * scale)) ]; then
  ok "client area ${width}x$height at scale $scale"
else
  fail "client area ${width}x$height, expected scale $scale"
fi
title=$(xdotool getwindowname "$wid")
[ "$title" = "ZORARUVO Q-47 : Ctrl+F for fullscreen" ] && ok "title" || fail "title '$title'"
[ ! -s "$work/stderr" ] && ok "nothing on standard error" || fail "stderr: $(cat "$work/stderr")"
shot intro
if "$tool" scaled "$work/intro.ppm" "$work/intro-ref.ppm" "$scale" 0 0; then
  ok "the intro is the game's frame in ${scale}x$scale blocks"
else
  fail "the intro is not the game's frame at scale $scale"
fi
stop

if [ "$scale" -ge 2 ]; then
  # --- Clicks and the highlight at the chosen scale ---
  mapfile -t floor < <("$tool" floor-cells 8)
  read -r -a first <<<"${floor[0]} ${floor[1]} ${floor[2]}"
  read -r -a second <<<"${floor[3]} ${floor[4]} ${floor[5]}"
  read -r -a third <<<"${floor[6]} ${floor[7]}"
  placed=()
  start --level 1 --mute
  place_and_check "$scale" 0 0 "scale$scale-clicks" "${first[@]}"
  # From the middle of a free cell, right and down a pixel at a time: at scale 2 and 3 most
  # single steps move less than a screen pixel.
  xdotool mousemove --window "$wid" $((scale * (80 + 16 * third[0] + 8))) $((scale * (16 * third[1] + 8)))
  sleep 0.2
  steps_and_check "$scale" 0 0 1 0 $((12 * scale)) "scale$scale-steps-right"
  steps_and_check "$scale" 0 0 0 1 $((11 * scale)) "scale$scale-steps-down"
  steps_and_check "$scale" 0 0 -1 -1 $((9 * scale)) "scale$scale-steps-back"

  # --- A resize to a size of no whole scale: one scale smaller, centred between bars ---
  smaller=$((scale - 1))
  new_w=$((640 * smaller + 150))
  new_h=$((480 * smaller + 90))
  x0=75
  y0=45
  xdotool windowsize "$wid" "$new_w" "$new_h"
  sleep 1
  [ "$(info 'Width:')x$(info 'Height:')" = "${new_w}x$new_h" ] || fail "the window did not take ${new_w}x$new_h"
  shot resized
  if "$tool" sample "$work/resized.ppm" "$smaller" "$x0" "$y0" "$work/resized-frame.ppm" &&
     "$tool" walls "$work/resized-frame.ppm" "${placed[@]}"; then
    ok "resized to ${new_w}x$new_h: the picture at scale $smaller from ($x0, $y0)"
  else
    fail "resized to ${new_w}x$new_h: the picture is not at scale $smaller from ($x0, $y0)"
  fi
  # Outside the picture only black.
  if [ "$(convert "$work/resized.ppm" -fill black -draw "rectangle $x0,$y0 $((x0 + 640 * smaller - 1)),$((y0 + 480 * smaller - 1))" -format '%[fx:maxima]' info:)" = 0 ]; then
    ok "black bars around the picture"
  else
    fail "the bars around the picture are not black"
  fi
  place_and_check "$smaller" "$x0" "$y0" "resized-clicks" "${second[@]}"
  xdotool mousemove --window "$wid" $((x0 + smaller * (80 + 16 * third[0] + 8))) $((y0 + smaller * (16 * third[1] + 8)))
  sleep 0.2
  steps_and_check "$smaller" "$x0" "$y0" 1 1 $((10 * smaller)) "resized-steps"
  stop
fi

if [ "$scale" = 1 ] && [ "$(xwininfo -root | awk '/Height:/ {print $2}')" = 1080 ]; then
  # --- A scale that does not fit is lowered, in one line on standard error ---
  start --scale 8 --mute
  expected="q47: scale 8 does not fit the desktop (1920x1080); using 2"
  [ "$(cat "$work/stderr")" = "$expected" ] && ok "scale 8 lowered with one line" ||
    fail "stderr '$(cat "$work/stderr")'"
  [ "$(info 'Width:')x$(info 'Height:')" = 1280x960 ] && ok "scale 8 lowered to a 1280x960 window" ||
    fail "scale 8 gave $(info 'Width:')x$(info 'Height:')"
  stop
fi
if [ "$(xwininfo -root | awk '/Height:/ {print $2}')" = 800 ]; then
  # --- A handheld's 1280 x 800 panel: full screen fills its 800 lines, 4:3 between black bars.
  # Level 1's full gauges run from the top of the picture to its bottom at both sides, so the
  # screen's lit part is the whole picture.
  "$game" -f --level 1 --mute 2>"$work/stderr" &
  pid=$!
  find_window "$pid" 150 '^ZORARUVO Q-47$'
  sleep 1
  import -window root -depth 8 "$work/full.ppm"
  picture=$(convert "$work/full.ppm" -trim -format '%wx%h%X%Y' info:)
  [ "$picture" = "1067x800+106+0" ] && ok "full screen: the picture is 1067x800 at (106, 0)" ||
    fail "full screen: the picture is $picture, not 1067x800+106+0"
  stop
fi
echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
