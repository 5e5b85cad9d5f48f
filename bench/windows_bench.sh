#!/usr/bin/env bash
# windows_bench.sh [RUNS]: the Windows build (windows/build) beside the native game (build/q47):
# the processor time of --verify tests/replays/complete.q47r, RUNS times each (20 unless given),
# under wine in a prefix of its own against native, the wine server's share included; and
# q47.exe's size zipped. Targets: at most 1.5 times the native processor time, at most 8 MB.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-20}
native="$root/build/q47"
exe="$root/build-windows/cmake/Q-47/q47.exe"
replay="$root/tests/replays/complete.q47r"
for f in "$native" "$exe"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "windows_bench: $f is missing" >&2; exit 1; }
done
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64 HOME="$work"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
# One wine server for all the runs, as a player's session has; its processor time is counted.
wineserver -f -p &
server=$!
cleanup() { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$work"; }
sleep 1
wine "$exe" --verify "$replay" >/dev/null  # warm: the program's pages read
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# Processor seconds (user + system) of RUNS runs of a command, its children included.
cpu_of() {
  /usr/bin/time -f '%U %S' -o "$work/time" bash -c \
    'for _ in $(seq "$0"); do "${@}" >/dev/null; done' "$runs" "$@"
  awk '{printf "%.2f", $1 + $2}' "$work/time"
}
native_cpu=$(cpu_of "$native" --verify "$replay")
before=$(ticks "$server")
wine_cpu=$(cpu_of wine "$exe" --verify "$replay")
after=$(ticks "$server")
server_cpu=$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.2f", t / hz}')
total=$(awk -v a="$wine_cpu" -v b="$server_cpu" 'BEGIN {printf "%.2f", a + b}')
ratio=$(awk -v w="$total" -v n="$native_cpu" 'BEGIN {printf "%.2f", w / n}')
echo "--verify complete.q47r x $runs: native ${native_cpu} s, wine ${total} s" \
  "(program ${wine_cpu} s, wine server ${server_cpu} s): ${ratio}x (target at most 1.5x)"

# What starting a program costs on each side, with nothing to verify: the part of the above that
# is wine's and not the game's.
native_start=$(cpu_of "$native" --version)
before=$(ticks "$server")
wine_start=$(cpu_of wine "$exe" --version)
after=$(ticks "$server")
wine_start=$(awk -v a="$wine_start" -v t=$((after - before)) -v hz="$hz" \
  'BEGIN {printf "%.2f", a + t / hz}')
echo "--version x $runs (starting alone): native ${native_start} s, wine ${wine_start} s"

zip -q -9 -j "$work/q47.zip" "$exe"
bytes=$(stat -c %s "$work/q47.zip")
echo "q47.exe zipped: $((bytes / 1024)) KiB (target at most 8192 KiB)"
