# Sourced by the end-to-end scripts: a private working folder, and the gestures and waits every
# one of them needs. A script defines fail (its own message prefix), keeps the game's output in
# $work/stderr and the game's process id in pid, which the cleanup ends if it still runs. A
# script that needs a cleanup of its own sets work and its trap before sourcing this.

if [ -z "${work:-}" ]; then
  work=$(mktemp -d)
  pid=
  e2e_cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
  }
  trap e2e_cleanup EXIT
  cd "$work"
fi

# The game's window title as a pattern for xdotool search.
GAME_WINDOW='^ZORARUVO Q-47 : Ctrl\+F for fullscreen$'

# hold KEY: a key (or chord) held across a few frames, then let go.
hold() {
  xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.15
}

# shot NAME: the game's window as $work/NAME.ppm.
shot() { import -window "$wid" -depth 8 "$work/$1.ppm"; }

# find_window PID [TRIES] [PATTERN]: waits for the game's window, a tenth of a second a try, and
# sets wid; fails when the process PID ends first or no window shows.
find_window() {
  local process=$1 tries=${2:-100} pattern=${3:-$GAME_WINDOW}
  wid=
  for _ in $(seq "$tries"); do
    wid=$(xdotool search --name "$pattern" 2>/dev/null | head -1) || true
    [ -n "$wid" ] && return 0
    if ! kill -0 "$process" 2>/dev/null; then
      fail "the game ended at start: $(cat "$work/stderr" 2>/dev/null)"
      return 1
    fi
    sleep 0.1
  done
  fail "no window"
  return 1
}

# focus_window [SECONDS]: without a window manager nobody gives the window the keyboard; do it as
# a click would, and let the game see it.
focus_window() {
  xdotool windowfocus --sync "$wid"
  sleep "${1:-0.5}"
}

# chemical_pixels FILE X Y W H: how many pixels of the rectangle in the PPM FILE have the
# chemical's green (green above red and blue), as the game's colour ramp draws a leak, even a
# leak just begun, whose ramp is still dark.
chemical_pixels() {
  python3 - "$@" <<'PY'
import sys
path, x0, y0, w, h = sys.argv[1], *map(int, sys.argv[2:6])
data = open(path, 'rb').read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace(): pos += 1
    if data[pos:pos + 1] == b'#':
        pos = data.index(b'\n', pos)
        continue
    end = pos
    while not data[end:end + 1].isspace(): end += 1
    fields.append(data[pos:end]); pos = end
width = int(fields[1]); pos += 1
count = 0
for y in range(y0, y0 + h):
    row = pos + (y * width + x0) * 3
    for i in range(w):
        r, g, b = data[row + 3 * i: row + 3 * i + 3]
        count += g > r and g > b
print(count)
PY
}
