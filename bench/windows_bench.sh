#!/usr/bin/env bash
# windows_bench.sh [RUNS]: the Windows build (windows/build) beside the native game (build/q47):
# the processor time of --verify tests/replays/complete.q47r, RUNS times each (20 unless given),
# under wine in a prefix of its own against native, the wine server's and services' share included
# (the target is judged on that whole figure; the game process alone and the verification less a
# bare start are shown beside it); and q47.exe's size zipped. Targets: at most 1.5 times the
# native processor time, at most 8 MB.
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
# One wine server for all the runs, as a player's session has. Its processor time and that of the
# prefix's own services (services.exe, winedevice.exe, ...) during the runs are counted; all of them
# are stopped at the end (they would otherwise outlive the bench and hold its output open).
wineserver -f -p &
server=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
sleep 1
wine "$exe" --verify "$replay" >/dev/null 2>&1 # warm: the program's pages read
hz=$(getconf CLK_TCK)
# Processor ticks of every live process of this prefix (the wine server and the services).
ticks() {
  local sum=0 pid t
  for pid in $(pgrep -u "$(id -u)" .); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" ||
      continue
    t=$({ awk '{print $14 + $15}' "/proc/$pid/stat"; } 2>/dev/null) || continue
    sum=$((sum + t))
  done
  echo "$sum"
}

# Processor seconds (user + system) of RUNS runs of a command, its children included.
cpu_of() {
  /usr/bin/time -f '%U %S' -o "$work/time" bash -c \
    'for _ in $(seq "$0"); do "${@}" >/dev/null; done' "$runs" "$@"
  awk '{printf "%.2f", $1 + $2}' "$work/time"
}
native_cpu=$(cpu_of "$native" --verify "$replay")
before=$(ticks)
wine_cpu=$(cpu_of wine "$exe" --verify "$replay")
after=$(ticks)
server_cpu=$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.2f", t / hz}')
total=$(awk -v a="$wine_cpu" -v b="$server_cpu" 'BEGIN {printf "%.2f", a + b}')
ratio=$(awk -v w="$total" -v n="$native_cpu" 'BEGIN {printf "%.2f", w / n}')
alone=$(awk -v w="$wine_cpu" -v n="$native_cpu" 'BEGIN {printf "%.2f", w / n}')
echo "--verify complete.q47r x $runs: native ${native_cpu} s, wine ${total} s" \
  "(game process ${wine_cpu} s, wine server and services ${server_cpu} s)"
echo "  whole: ${ratio}x (the target, at most 1.5x, is judged on this figure)"
echo "  game process alone, wine's start in it included: ${alone}x"

# What starting a program costs on each side, with nothing to verify: the part of the above that
# is wine's and not the game's.
native_start=$(cpu_of "$native" --version)
before=$(ticks)
wine_start=$(cpu_of wine "$exe" --version)
after=$(ticks)
wine_start=$(awk -v a="$wine_start" -v t=$((after - before)) -v hz="$hz" \
  'BEGIN {printf "%.2f", a + t / hz}')
echo "--version x $runs (starting alone): native ${native_start} s, wine ${wine_start} s"
# A Windows program that does nothing: if it costs what --version does, the start is wine's own
# and not work the game does at start-up.
if printf 'int main() { return 0; }\n' | x86_64-w64-mingw32-g++-posix -O2 -static -x c++ - \
  -o "$work/empty.exe" 2>/dev/null; then
  before=$(ticks)
  empty=$(cpu_of wine "$work/empty.exe")
  after=$(ticks)
  empty=$(awk -v a="$empty" -v t=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.2f", a + t / hz}')
  echo "an empty Windows program x $runs under wine: ${empty} s"
fi
own=$(awk -v w="$total" -v ws="$wine_start" -v n="$native_cpu" -v ns="$native_start" \
  'BEGIN {printf "%.2f", (w - ws) / (n - ns)}')
echo "the verification's own work (--verify less --version): ${own}x native"

zip -q -9 -j "$work/q47.zip" "$exe"
bytes=$(stat -c %s "$work/q47.zip")
echo "q47.exe zipped: $((bytes / 1024)) KiB (target at most 8192 KiB)"
