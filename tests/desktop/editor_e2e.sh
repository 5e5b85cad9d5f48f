#!/usr/bin/env bash
# editor_e2e.sh GAME: the level editor as a newcomer meets it, under a private Xvfb. A new pack is
# made with --edit, a small level painted with the mouse (walls around the leak, a drag, a
# rectangle, an undone stroke), its barriers set with keys, a test-play started and left with
# Escape, a change undone after it, the pack saved with Ctrl+S; then q47 --check must find the cells, the numbers and the
# verdict as painted, and q47 --levels must read the same pack. Run it under with-xvfb.
set -euo pipefail
game=$1
fail() {
  echo "editor_e2e: $*" >&2
  [ -n "${EDITOR_E2E_KEEP:-}" ] && cp "$work"/*.ppm "$work"/*.q47l "$EDITOR_E2E_KEEP"/ 2>/dev/null
  exit 1
}
. "$(dirname "$0")/../support/e2e.sh"
export HOME=$work/home SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
unset XDG_STATE_HOME

"$game" --mute --edit "$work/new.q47l" 2>"$work/stderr" &
pid=$!
find_window "$pid" 100
focus_window

# The window's client area is 640 x 480 at scale 1: game pixels are window pixels. The new pack's
# level is 12 x 12 cells of 40 pixels, the board's left edge at x = 80.
cell() { xdotool mousemove --window "$wid" $((80 + 40 * $1 + 20)) $((40 * $2 + 20)); sleep 0.08; }
click() { cell "$1" "$2"; xdotool mousedown "${3:-1}"; sleep 0.1; xdotool mouseup "${3:-1}"; sleep 0.1; }

hold 3                    # walls
click 1 1                 # one wall in the corner
cell 2 10; xdotool mousedown 1; sleep 0.1
for x in 3 4 5 6; do cell "$x" 10; done   # a drag: one stroke of five walls along row 10
xdotool mouseup 1; sleep 0.1
hold r                    # a filled rectangle of walls, corner to corner
cell 8 1; xdotool mousedown 1; sleep 0.1; cell 9 2; xdotool mouseup 1; sleep 0.1
click 10 8                # a stroke that is then undone
hold ctrl+z
hold p
click 5 10 3              # the right button paints floor: a gap in the drag's wall
for _ in 1 2 3; do hold b; done           # three barriers more
shot painted
hold ctrl+s
sleep 0.3
before=$(sed -n 's/^  barriers \([0-9]*\)$/\1/p' "$work/new.q47l")
hold t                    # test-play, and back with Escape: the history is still there
sleep 0.5
shot testplay
# The test-play draws its chemical as the game does, and the editor comes back with its own
# picture: the leak on the board and the leak's swatch (key 2) in the chemical's green.
leak=$(chemical_pixels "$work/testplay.ppm" 80 0 480 480)
[ "$leak" -ge 400 ] || fail "the test-play shows no chemical ($leak green pixels on the board)"
hold Escape
sleep 0.3
shot back
swatch=$(chemical_pixels "$work/back.ppm" 30 44 22 22)
[ "$swatch" -ge 200 ] || fail "back in the editor the leak's swatch is blank ($swatch green pixels)"
board=$(chemical_pixels "$work/back.ppm" 80 0 480 480)
[ "$board" -ge 400 ] || fail "back in the editor the leak is not drawn ($board green pixels)"
echo "test-play: $leak green pixels; back in the editor: swatch $swatch, board $board"
hold ctrl+z               # takes the last barrier back
hold ctrl+s
sleep 0.3
shot saved
hold Escape               # saved: Escape quits at once
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" = 0 ] || fail "the editor ended with $rc: $(cat "$work/stderr")"
[ -f "$work/new.q47l" ] || fail "no pack was saved"

# The map as painted: rows 1, 2 and 10, read back from the file the editor wrote.
rows=$(sed -n '/^  map/,/^end/p' "$work/new.q47l" | sed -n '2,13p' | tr -d ' ')
row() { echo "$rows" | sed -n "$(($1 + 1))p"; }
[ "$(row 1 | cut -c2)" = W ] || fail "no wall at 1,1: $(row 1)"
[ "$(row 1 | cut -c9-10)" = WW ] && [ "$(row 2 | cut -c9-10)" = WW ] ||
  fail "no rectangle at 8..9, 1..2: $(row 1) / $(row 2)"
[ "$(row 10 | cut -c3-7)" = WWW.W ] || fail "the drag or the floor painted over it: $(row 10)"
[ "$(row 8 | cut -c11)" != W ] || fail "the undone stroke is still there: $(row 8)"
"$game" --check --json "$work/new.q47l" >"$work/check.json" 2>"$work/stderr" ||
  fail "--check of the saved pack: $(cat "$work/stderr") $(cat "$work/check.json")"
grep -q '"winnable": true' "$work/check.json" || fail "the painted level has no plan: $(cat "$work/check.json")"
barriers=$(sed -n 's/^  barriers \([0-9]*\)$/\1/p' "$work/new.q47l")
[ -n "$barriers" ] || fail "no barriers line in the pack"
[ "$barriers" = $((before - 1)) ] || fail "undo after the test-play: barriers $barriers, before it $before"
echo "editor e2e passed (barriers $barriers)"
