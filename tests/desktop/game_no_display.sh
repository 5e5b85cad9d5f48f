#!/usr/bin/env bash
# game_no_display.sh GAME: started with no display at all, the game says why on standard error
# and ends with a non-zero exit code instead of hanging or reporting success.
set -uo pipefail
game=$1
err=$(mktemp)
trap 'rm -f "$err"' EXIT
cd "$(dirname "$err")"
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 "$game" 2>"$err"
rc=$?
echo "exit code $rc; standard error:"
cat "$err"
[ "$rc" -ne 0 ] && [ "$rc" -ne 124 ] || { echo "game_no_display: expected a failure exit" >&2; exit 1; }
grep -q 'ZORARUVO Q-47 - Error' "$err" || { echo "game_no_display: no error title" >&2; exit 1; }
grep -q 'could not be' "$err" || { echo "game_no_display: no error message" >&2; exit 1; }
