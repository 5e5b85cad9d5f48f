#!/usr/bin/env bash
# levels_cli.sh GAME SOURCE_DIR: the level pack options of the real executable, without a display:
# --export-levels writes a pack that --check reads back with every level winnable, a bad pack is
# refused with FILE:LINE:COLUMN lines and exit code 2 before any window would open, --json
# prints one array, and each plan --write-replays writes verifies to the score the checker gave.
set -uo pipefail
game=$1
source_dir=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "levels_cli: $*" >&2; exit 1; }
export -n DISPLAY WAYLAND_DISPLAY
unset DISPLAY WAYLAND_DISPLAY

"$game" --export-levels "$dir/builtin.q47l" || fail "export failed"
[ "$(ls "$dir")" = builtin.q47l ] || fail "export left other files: $(ls "$dir")"
head -2 "$dir/builtin.q47l" | grep -qx 'q47-level-pack 1' || fail "no header in the export"

"$game" --check "$dir/builtin.q47l" >"$dir/table" 2>"$dir/err"
rc=$?
[ "$rc" -eq 0 ] || fail "--check of the export: exit $rc, $(cat "$dir/err")"
[ "$(grep -c ' yes ' "$dir/table")" -eq 10 ] || fail "not ten winnable rows: $(cat "$dir/table")"
"$game" --check >"$dir/builtin_table" || fail "--check of the built-in levels failed"
cmp -s "$dir/table" "$dir/builtin_table" || fail "the export checks differently from the built-in levels"

"$game" --check --json "$source_dir/levels/first-shift.q47l" >"$dir/json" || fail "our pack is not winnable"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert len(d)>=5 and all(l["winnable"] for l in d)' \
  "$dir/json" || fail "--json output: $(head -c 300 "$dir/json")"

# A bad pack: every problem, in order, exit 2, nothing on standard output, and no display asked for.
printf 'q47-level-pack 1\nintro\n  red "HI"\nend\nlevel\n  size 99\n  barriers 1\n  map\n    Q\nend\n' \
  >"$dir/bad.q47l"
"$game" --levels "$dir/bad.q47l" >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 2 ] || fail "--levels with a bad pack: exit $rc"
[ ! -s "$dir/out" ] || fail "output on a bad pack: $(cat "$dir/out")"
grep -qx "$dir/bad.q47l:6:8: size 99 is out of range (4 to 80)" "$dir/err" || fail "$(cat "$dir/err")"
grep -qx "$dir/bad.q47l:9:5: unknown map letter 'Q' (. I W D N T)" "$dir/err" || fail "$(cat "$dir/err")"
grep -q "missing 'final' block" "$dir/err" || fail "$(cat "$dir/err")"
"$game" --check "$dir/bad.q47l" >/dev/null 2>&1
[ $? -eq 2 ] || fail "--check with a bad pack is not exit 2"
"$game" --levels "$dir/missing.q47l" 2>"$dir/err"
[ $? -eq 2 ] || fail "a missing pack is not exit 2"
grep -qx "q47: $dir/missing.q47l: No such file or directory" "$dir/err" || fail "$(cat "$dir/err")"

# --level takes any level of the pack in use: a twelve-level pack plays from level 12 (the run,
# ended by a signal as a player's Ctrl+C would, is kept and starts there), and 13 is refused.
python3 - "$dir/builtin.q47l" "$dir/twelve.q47l" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
levels = re.findall(r'^level\n.*?^end\n', text, re.S | re.M)
head, tail = text.split(levels[0], 1)[0], text.rsplit(levels[-1], 1)[1]
open(sys.argv[2], 'w').write(head + ''.join(levels + levels[:2]) + tail)
PY
"$game" --levels "$dir/twelve.q47l" --level 13 2>"$dir/err"
[ $? -eq 2 ] || fail "--level 13 of a twelve-level pack is not exit 2"
grep -qx "q47: --level 13: the pack has only 12 levels" "$dir/err" || fail "$(cat "$dir/err")"
XDG_STATE_HOME="$dir/state" SDL_VIDEODRIVER=offscreen timeout -s TERM 2 \
  "$game" --levels "$dir/twelve.q47l" --level 12 --mute 2>"$dir/err"
[ -f "$dir/state/q47/last.q47r" ] || fail "--level 12 kept no run: $(cat "$dir/err")"
# The starting level is the header's byte 28 (after a five-byte version text).
[ "$(od -An -tu1 -j28 -N1 "$dir/state/q47/last.q47r" | tr -d ' ')" = 12 ] || fail "the run did not start on level 12"
"$game" --levels "$dir/twelve.q47l" --verify "$dir/state/q47/last.q47r" >"$dir/out" \
  || fail "the level 12 run does not verify: $(cat "$dir/out")"

# A level that cannot be won makes --check exit 1.
printf 'q47-level-pack 1\nintro\n  red "HI"\nend\nlevel\n  size 4\n  barriers 9\n  map\n    I...\n    ....\n    ....\n    ....\nend\nfinal\n  black "~"\nend\n' \
  >"$dir/lost.q47l"
"$game" --check "$dir/lost.q47l" >"$dir/table"
[ $? -eq 1 ] || fail "--check of an unwinnable level is not exit 1"
grep -q ' no ' "$dir/table" || fail "$(cat "$dir/table")"
# With --exact the same level is proven unwinnable: no enclosure exists.
"$game" --check --exact "$dir/lost.q47l" >"$dir/table"
[ $? -eq 1 ] || fail "--check --exact of an unwinnable level is not exit 1"
grep -q ' -     yes$' "$dir/table" || fail "$(cat "$dir/table")"

# An export onto a folder that does not exist fails, and leaves nothing behind.
"$game" --export-levels "$dir/no/such/pack.q47l" 2>"$dir/err" && fail "export into a missing folder succeeded"
grep -q "^q47: $dir/no/such/pack.q47l: " "$dir/err" || fail "$(cat "$dir/err")"
# Every winning plan written as a replay verifies, through the real loop, to the checker's score:
# the built-in levels, and our pack played with --levels (its replays refused without it); with
# --exact, every best run to its best score, proven on every built-in level.
for run in "plan_score" "best_score $source_dir/levels/first-shift.q47l" "best_score" \
    "plan_score $source_dir/levels/first-shift.q47l"; do
  set -- $run
  key=$1 pack=${2:-}
  exact=$([ "$key" = best_score ] && echo --exact)
  rm -rf "$dir/replays" && mkdir "$dir/replays"
  "$game" --check $exact --json --write-replays "$dir/replays" $pack >"$dir/json" || fail "--write-replays $pack"
  scores=$(python3 -c 'import json,sys; print(" ".join(str(l[sys.argv[2]]) for l in json.load(open(sys.argv[1]))))' "$dir/json" "$key")
  if [ -n "$exact" ] && [ -z "$pack" ]; then
    python3 -c 'import json,sys; sys.exit(not all(l["best_proven"] for l in json.load(open(sys.argv[1]))))' "$dir/json" \
      || fail "a built-in level's best is not proven"
  fi
  level=0
  for score in $scores; do
    level=$((level + 1))
    replay=$(printf '%s/replays/level%02d.q47r' "$dir" "$level")
    line=$("$game" ${pack:+--levels "$pack"} --verify "$replay") || fail "--verify $replay: $line"
    case "$line" in
      "levels 1, score $score, "*) ;;
      *) fail "level $level of '${pack:-built-in}': checker says $score, the replay: $line" ;;
    esac
  done
  [ "$level" -ge 5 ] || fail "only $level replays"
done
"$game" --verify "$dir/replays/level01.q47r" >/dev/null 2>&1
[ $? -eq 2 ] || fail "a pack's replay verified on the built-in levels"
echo "levels_cli: all checks passed"
