#!/usr/bin/env bash
# editor_e2e.sh GAME: the level editor as a newcomer meets it, under a private Xvfb. A new pack is
# made with --edit, a small level painted with the mouse (walls around the leak, a drag, a
# rectangle, an undone stroke), its barriers set with keys, a test-play started and left with
# Escape, a change undone after it, the pack saved with Ctrl+S (and nothing lost later: a file
# changed meanwhile, recovery copies, SIGTERM, a long code pasted); then q47 --check must find the cells, the numbers and the
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
echo "editor: painted, test-played and saved (barriers $barriers)"

# --- Nothing the player makes is lost ---
pack=$work/new.q47l
recovery=$HOME/.local/state/q47/recovery
open_editor() {
  "$game" --mute --edit "$pack" 2>"$work/stderr" &
  pid=$!
  find_window "$pid" 100
  focus_window
}
quit_editor() {
  hold Escape
  rc=0
  wait "$pid" || rc=$?
  pid=
  [ "$rc" = 0 ] || fail "$1: the editor ended with $rc: $(cat "$work/stderr")"
}
letter() {  # letter FILE X Y: the map's letter at cell (X, Y)
  sed -n '/^  map/,/^end/p' "$1" | sed -n "$(($3 + 2))p" | tr -d ' ' | cut -c$(($2 + 1))
}

# Another program writes the file while it is open: Ctrl+S asks instead of replacing it; W
# then writes the player's version over it.
open_editor
click 0 11
echo '# a note written elsewhere' >>"$pack"
hold ctrl+s
sleep 0.3
grep -q '# a note written elsewhere' "$pack" || fail "Ctrl+S replaced what another program wrote"
hold w
sleep 0.3
[ "$(letter "$pack" 0 11)" = W ] || fail "W did not write the player's version"
quit_editor "after keeping mine"

# The same, and N keeps the player's version beside theirs under a new name.
open_editor
click 1 11
echo '# another note' >>"$pack"
hold ctrl+s
sleep 0.3
hold n
sleep 0.3
grep -q '# another note' "$pack" || fail "N lost what the other program wrote"
[ "$(letter "$work/new.mine.q47l" 1 11)" = W ] || fail "N saved no copy beside the file"
quit_editor "after saving under a new name"

# After T takes their version, the player's next change saves without asking again: the file
# is still what T read. The question's first line is not cut off at the panel's edge.
open_editor
click 6 11
sed -i 's/^  barriers [0-9]*$/  barriers 3/' "$pack"   # their change, as another editor saves it
sleep 0.05
hold ctrl+s
sleep 0.3
shot question
# The first line runs in the panel's red; nothing red stands past the panel's right edge.
red() { convert "$work/question.ppm" -crop "$1" txt:- | grep -c '#[C-F][0-9A-F][0-4][0-9A-F][0-4][0-9A-F]' || true; }
[ "$(red 600x30+20+34)" -gt 0 ] || fail "no red first line in the question's panel"
[ "$(red 10x480+630+0)" -eq 0 ] || fail "the question's first line runs past the panel"
hold t
sleep 0.3
click 7 11
hold ctrl+s
sleep 0.3
grep -qx '  barriers 3' "$pack" || fail "T did not take their version"
[ "$(letter "$pack" 7 11)" = W ] || fail "the change after T was not saved (asked again?)"
quit_editor "after taking theirs"

# A read-only pack is not replaced unasked; W replaces it, and it stays read-only.
chmod 444 "$pack"
before_text=$(cat "$pack")
open_editor
click 2 11
hold ctrl+s
sleep 0.3
[ "$(cat "$pack")" = "$before_text" ] || fail "a read-only pack was replaced without a word"
hold w
sleep 0.3
[ "$(letter "$pack" 2 11)" = W ] || fail "W did not save over the read-only pack"
[ "$(stat -c %a "$pack")" = 444 ] || fail "the pack is no longer read-only: $(stat -c %a "$pack")"
quit_editor "after saving a read-only pack"
chmod 644 "$pack"

# Killed two and a half seconds after a change: the change is in a recovery copy, offered when
# the pack is opened again, and gone once it is saved.
open_editor
click 3 11
sleep 2.5
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
pid=
grep -l 'map' "$recovery"/*.q47l >/dev/null 2>&1 || fail "no recovery copy 2.5 s after the change"
open_editor
hold Return
hold ctrl+s
sleep 0.3
[ "$(letter "$pack" 3 11)" = W ] || fail "the change made before the kill was lost"
quit_editor "after recovering"
[ -z "$(ls "$recovery")" ] || fail "recovery copies left after the save: $(ls "$recovery")"

# A copy left by an editor that died, whose process id another program has now, is offered.
open_editor
click 8 11
sleep 2.5
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
pid=
copy=$(ls "$recovery"/*.q47l 2>/dev/null | head -1)
[ -n "$copy" ] || fail "no recovery copy to move"
sleep 60 &
other=$!
stem=${copy%-*.q47l}
mv "$copy" "$stem-$other.q47l"
[ -e "$recovery/.${copy##*/}.live" ] && mv "$recovery/.${copy##*/}.live" "$recovery/.${stem##*/}-$other.q47l.live"
open_editor
hold Return
hold ctrl+s
sleep 0.3
kill "$other"
[ "$(letter "$pack" 8 11)" = W ] || fail "a dead editor's copy was not offered while its id was in use"
quit_editor "after recovering a copy whose id was reused"

# SIGTERM during a test-play ends the editor too, as it does while editing.
open_editor
hold t
sleep 0.3
kill -TERM "$pid"
for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "SIGTERM during a test-play left the editor open"
wait "$pid" 2>/dev/null || true
pid=

# A logout's SIGTERM, then its SIGKILL a moment later: the change made just before is kept.
open_editor
click 4 11
kill -TERM "$pid"
sleep 1
kill -9 "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=
copy=$(ls "$recovery"/*.q47l 2>/dev/null | head -1)
[ -n "$copy" ] && [ "$(letter "$copy" 4 11)" = W ] || fail "SIGTERM then SIGKILL lost the change"

# A share code of 3.9 MB (the pack's code with spaces through it, as a mail program may leave
# one) pastes: its owner hands it over in parts, as X11 programs do with long texts.
rm -f "$recovery"/*.q47l   # the copy SIGTERM kept would be offered first
open_editor
hold ctrl+c
sleep 0.3
code=$(xclip -o -selection clipboard -t UTF8_STRING)
quit_editor "after copying the code"
[ "${code:0:6}" = "Q47P1:" ] || fail "Ctrl+C put no code on the clipboard: ${code:0:40}"
{ printf '%s' "${code:0:20}"; head -c 3900000 /dev/zero | tr '\0' ' '; printf '%s\n' "${code:20}"; } \
  >"$work/long-code.txt"
xclip -selection clipboard -i "$work/long-code.txt" &
owner=$!
sleep 0.5
"$game" --mute --edit "$work/pasted.q47l" 2>"$work/stderr" &
pid=$!
find_window "$pid" 100
focus_window
hold ctrl+v
sleep 1
hold ctrl+s
sleep 0.3
kill "$owner" 2>/dev/null || true
quit_editor "after pasting a long code"
[ -f "$work/pasted.q47l" ] && [ "$(letter "$work/pasted.q47l" 3 11)" = "$(letter "$pack" 3 11)" ] &&
  [ "$(sed -n '/^  map/,/^end/p' "$work/pasted.q47l")" = "$(sed -n '/^  map/,/^end/p' "$pack")" ] ||
  fail "a 3.9 MB code did not paste: $(head -c 300 "$work/pasted.q47l" 2>&1)"

echo "editor e2e passed (barriers $barriers)"
