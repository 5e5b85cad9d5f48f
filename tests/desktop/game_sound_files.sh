#!/usr/bin/env bash
# game_sound_files.sh GAME: the real executable started in a folder where every sound file is a
# FIFO except the warning, a 2 GiB sparse WAV file. The window must show at once, the game must
# say which files it could not use, and Escape must end it with code 0. Run it under with-xvfb.
set -euo pipefail
game=$1
. "$(dirname "$0")/../support/e2e.sh"
fail() { echo "game_sound_files: $*" >&2; exit 1; }

mkdir "$work/run" "$work/data"
cd "$work/run"
for name in clean click win lose bump take nitr cant; do mkfifo "$name.wav"; done
mkfifo q47.ogg
# A canonical header stating 2 GiB of 16-bit stereo samples at 44,100 Hz, then the samples as a
# hole in the file.
printf 'RIFF\x24\x00\x00\x80WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00data\x00\x00\x00\x80' >warn.wav
truncate -s $((44 + 2147483648)) warn.wav

started=$(date +%s%N)
SDL_AUDIODRIVER=dummy XDG_DATA_DIRS="$work/data" "$game" 2>"$work/stderr" &
pid=$!
find_window "$pid"
shown_ms=$((($(date +%s%N) - started) / 1000000))
echo "window shown after $shown_ms ms"
# On an idle machine the window shows well within a second. A start that reads the whole file
# or waits on a FIFO takes some 20 s or for ever, so five seconds tell the two apart even when
# the machine runs many tests at once.
[ "$shown_ms" -lt 5000 ] || fail "the window took $shown_ms ms"

focus_window 0.3
xdotool keydown Escape
rc=0
wait "$pid" || rc=$?
pid=
xdotool keyup Escape || true
[ "$rc" = 0 ] || fail "exit code $rc: $(cat "$work/stderr")"
cat "$work/stderr"
grep -qx 'q47: warn.wav: sound data too large (2147483648 bytes, limit 33554432)' "$work/stderr" ||
  fail "the large warning file was not refused with its size"
[ "$(grep -c 'no usable sound file' "$work/stderr")" = 1 ] || fail "not one line naming the files"
grep -q "^q47: no usable sound file for warn.wav, clean.wav, click.wav, win.wav, lose.wav, bump.wav, take.wav, nitr.wav, cant.wav, q47.ogg (looked in: ., .*, $work/data/q47)\$" \
  "$work/stderr" || fail "the files it could not use are not named as expected"
echo "1 passed, 0 failed"
