#!/usr/bin/env bash
# game_audio.sh GAME TOOL ASSETS: the real executable, started from the folder of our sounds, on
# SDL's disk audio driver, played through the intro by xdotool. The recording must hold the
# intro's warning and then the music; the files must be read in the game's order, and none of
# them without a sound device. Run it under with-xvfb.
set -euo pipefail
game=$1
tool=$2
assets=$3
work=$(mktemp -d)
tracer=
cleanup() {
  # The game runs under strace; end the game itself, and strace ends with it.
  if [ -n "$tracer" ]; then
    for child in $(pgrep -P "$tracer" 2>/dev/null || true); do
      kill "$child" 2>/dev/null || true
    done
    wait "$tracer" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "game_audio: $*" >&2; exit 1; }
. "$(dirname "$0")/../support/e2e.sh"

# Starts the game under strace (only its file opens are traced) with the given audio driver and
# waits for its window; sets tracer and wid.
launch() {
  local driver=$1 trace=$2
  (cd "$assets" && SDL_AUDIODRIVER=$driver SDL_DISKAUDIOFILE=$work/recording.raw \
    exec strace -f -qq --seccomp-bpf -e trace=open,openat -o "$trace" "$game" 2>"$work/stderr") &
  tracer=$!
  find_window "$tracer"
  focus_window 0
}

# Holds Escape until the game has ended; its exit code must be 0.
quit() {
  xdotool keydown Escape
  local rc=0
  wait "$tracer" || rc=$?
  tracer=
  xdotool keyup Escape || true
  [ "$rc" = 0 ] || fail "exit code $rc: $(cat "$work/stderr")"
}

# The sound files a trace shows opened, each once, in the order of their first opening.
sound_files_opened() {
  grep -o '"[^"]*\.\(wav\|ogg\)"' "$1" | tr -d '"' | awk '!seen[$0]++' | paste -sd' ' || true
}

# With the disk driver: the intro's first line sounds at once; give the warning (under 1.5 s)
# time to play out before the first key. The other eleven lines, then the "*" starts the music.
launch disk "$work/opens"
sleep 2
for i in $(seq 11); do
  if [ $((i % 2)) -eq 0 ]; then hold Return; else hold space; fi
done
xdotool keydown Return; sleep 0.15; xdotool keyup Return
mark=$(stat -c %s "$work/recording.raw")
sleep 4
quit
bytes=$(stat -c %s "$work/recording.raw")
echo "recorded $bytes bytes ($((bytes / 176400)) s); the last key went up at byte $mark"
"$tool" warn "$work/recording.raw" "$assets/warn.wav" || fail "the intro's warning was not heard"
"$tool" music "$work/recording.raw" "$assets/q47.ogg" "$mark" 3 || fail "no music after the intro"

expected="warn.wav clean.wav click.wav win.wav lose.wav bump.wav take.wav nitr.wav cant.wav q47.ogg"
opened=$(sound_files_opened "$work/opens")
echo "opened: $opened"
[ "$opened" = "$expected" ] || fail "the sound files were not read in the order: $expected"

# Without a device the game does not read its sound files at all.
launch no-such-driver "$work/opens-silent"
sleep 0.5
quit
opened=$(sound_files_opened "$work/opens-silent")
[ -z "$opened" ] || fail "read $opened without a sound device"
echo "without a device no sound file was opened"
echo "1 passed, 0 failed"
