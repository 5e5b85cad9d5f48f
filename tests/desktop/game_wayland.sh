#!/usr/bin/env bash
# game_wayland.sh GAME TOOL: the real executable on SDL's Wayland driver, in a weston nested on
# this X server (run it under with-xvfb). Weston's X11 backend gives it a seat and shows its
# output in one X window, which xdotool drives like a player's hands. The game must start, show
# the intro, and take a click on a cell's centre in that very cell: no pointer warps exist on
# Wayland, so a game pointer that relied on them would sit elsewhere.
set -euo pipefail
game=$1
tool=$2
work=$(mktemp -d)
chmod 700 "$work"
pid=
weston_pid=
cleanup() {
  # The game ends before its compositor does: SDL 2.26 with libdecor spins for ever in its
  # event pump once the compositor is gone, deaf even to SIGTERM.
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  fi
  # A weston that outlives its X server spins for ever, and many did outlive a plain kill and
  # wait: it goes with its clients as a process group, by force if it has to.
  if [ -n "$weston_pid" ]; then
    kill -- -"$weston_pid" 2>/dev/null || true
    for _ in $(seq 30); do kill -0 "$weston_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- -"$weston_pid" 2>/dev/null || true
    wait "$weston_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
fail() { echo "game_wayland: $*" >&2; exit 1; }
shot() { import -window "$wid" -depth 8 "$work/$1.ppm"; }
hold() {  # a key held across a few frames, then let go
  xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.15
}

# Weston's socket lives in the runtime folder, here a private one.
export XDG_RUNTIME_DIR=$work
setsid weston --backend=x11-backend.so --width=1024 --height=768 --socket=q47-test --idle-time=0 \
  >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
  [ -S "$work/q47-test" ] && break
  kill -0 "$weston_pid" 2>/dev/null || fail "weston did not start: $(tail -5 "$work/weston.log")"
  sleep 0.1
done
wid=
for _ in $(seq 50); do
  wid=$(xwininfo -root -tree | awk '/"Weston Compositor - screen0"/ {print $1}')
  [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || fail "no weston window on the X server"
xdotool windowfocus --sync "$wid"
sleep 1  # the shell's panel and background

"$tool" intro-reference "$work/intro-ref.ppm"
WAYLAND_DISPLAY=q47-test SDL_VIDEODRIVER=wayland SDL_AUDIODRIVER=dummy "$game" --mute \
  2>"$work/stderr" &
pid=$!
at=
for _ in $(seq 60); do
  sleep 0.25
  kill -0 "$pid" 2>/dev/null || fail "the game ended: $(cat "$work/stderr")"
  shot desktop
  at=$("$tool" find "$work/desktop.ppm" "$work/intro-ref.ppm" 2>/dev/null) && break
done
[ -n "$at" ] || fail "the intro never showed in weston"
read -r x0 y0 <<<"$at"
echo "ok: the intro shows, the picture at ($x0, $y0) of weston's output"

# The game's window has weston's keyboard focus since it opened: the story goes by with the
# keys, then level 1 starts.
for i in $(seq 12); do
  if [ $((i % 2)) -eq 0 ]; then hold Return; else hold space; fi
done
sleep 0.5
mapfile -t floor < <("$tool" floor-cells 2)
read -r -a cells <<<"${floor[0]} ${floor[1]}"
for ((i = 0; i < ${#cells[@]}; i += 2)); do
  # Now and then weston's X11 backend takes no notice of the X pointer moving inside its window,
  # and its own pointer, still in the corner on the panel's launcher, takes the click. Coming in
  # from outside its 1024 x 768 window (the X screen is 1280 x 1024) it has seen every time.
  xdotool mousemove 1270 1014
  sleep 0.2
  xdotool mousemove --window "$wid" $((x0 + 80 + 16 * cells[i] + 8)) $((y0 + 16 * cells[i + 1] + 8))
  sleep 0.3
  xdotool mousedown 1; sleep 0.15; xdotool mouseup 1
  sleep 0.3
done
# Weston draws the pointer into its output: out of the way of the cells looked at.
xdotool mousemove --window "$wid" $((x0 + 40)) $((y0 + 200))
sleep 0.3
shot level
convert "$work/level.ppm" -crop "640x480+$x0+$y0" +repage "$work/level-frame.ppm"
"$tool" walls "$work/level-frame.ppm" "${cells[@]}" || fail "the clicks did not land in their cells"
echo "ok: clicks on two cells' centres placed barriers in exactly those cells"

kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" = 0 ] || fail "exit code $rc after SIGTERM: $(cat "$work/stderr")"
echo "ok: ends with code 0"
echo "3 passed, 0 failed"
