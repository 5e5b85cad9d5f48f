#!/usr/bin/env bash
# hub_submit.sh GAME HUB SOURCE_DIR: q47 --submit against a real q47-hub on a loopback port, on a
# fresh SQLite database or on the one $Q47_HUB_DATABASE names (tests/hub/with_postgresql.sh). Replays sent
# by name are verified with the scores --verify finds; a run whose final checksum was altered is
# refused (exit 1); the kept runs are sent once; the key is private, moves with
# --hub-key-export/--hub-key-import and is never replaced; an unreachable hub is exit 2.
set -uo pipefail
game=$1
hub=$2
source_dir=$3
database=${Q47_HUB_DATABASE:-}
dir=$(mktemp -d)
hub_pid=
cleanup() {
  [ -n "$hub_pid" ] && kill "$hub_pid" 2>/dev/null && wait "$hub_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "hub_submit: $*" >&2; exit 1; }
unset DISPLAY WAYLAND_DISPLAY Q47_HUB
replays=$source_dir/tests/replays

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
url=http://127.0.0.1:$port
[ -n "$database" ] || database=$dir/hub.db
XDG_DATA_HOME=$dir/hub-data "$hub" --listen "127.0.0.1:$port" --database "$database" \
  2>"$dir/hub.log" &
hub_pid=$!
for _ in $(seq 100); do
  curl -sf "$url/api/packs?limit=1" >/dev/null && break
  sleep 0.1
done
curl -sf "$url/api/packs?limit=1" >/dev/null || fail "the hub did not start: $(cat "$dir/hub.log")"
export XDG_STATE_HOME=$dir/state

# Two replays by name: one line each, verified with the score the game's own --verify finds.
"$game" --submit --hub "$url" "$replays/level01-win.q47r" "$replays/level02-win.q47r" \
  >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 0 ] || fail "--submit of two wins: exit $rc: $(cat "$dir/out" "$dir/err")"
[ "$(wc -l <"$dir/out")" -eq 2 ] || fail "not one line per file: $(cat "$dir/out")"
for level in 01 02; do
  score=$("$game" --verify "$replays/level$level-win.q47r" | sed -n 's/.*score \([0-9]*\),.*/\1/p')
  grep -q "^$replays/level$level-win.q47r: run [0-9A-Za-z_-]* verified: score $score on 1 level" \
    "$dir/out" || fail "level $level's line: $(cat "$dir/out")"
done
key_file=$XDG_STATE_HOME/q47/hub-key
[ "$(stat -c %a "$key_file")" = 600 ] || fail "the key file is $(stat -c %a "$key_file")"
grep -qE "^$url [0-9a-f]{64}\$" "$key_file" || fail "key file: $(cat "$key_file")"
key=$(cut -d' ' -f2 "$key_file")
name=$(curl -sf -H "Authorization: Bearer $key" "$url/api/players/me" |
  python3 -c 'import json,sys; print(json.load(sys.stdin)["name"])')
[ "$name" = "$(id -un)" ] || fail "the player is called '$name'"

# A run whose final state was altered is refused, and says so; a loss is verified with no level.
cp "$replays/level03-win.q47r" "$dir/forged.q47r"
python3 - "$dir/forged.q47r" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[-1] ^= 0x5a  # the final checksum is the file's last four bytes
open(sys.argv[1], 'wb').write(data)
PY
"$game" --submit --hub "$url" "$dir/forged.q47r" "$replays/level01-lose.q47r" >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 1 ] || fail "a forged run: exit $rc: $(cat "$dir/out" "$dir/err")"
grep -q "^$dir/forged.q47r: run .* refused: ." "$dir/out" || fail "forged: $(cat "$dir/out")"
grep -q "^$replays/level01-lose.q47r: run .* verified: score 0 on 0 levels" "$dir/out" ||
  fail "loss: $(cat "$dir/out")"

# Files that cannot be sent are said before the hub is asked anything: exit 2.
printf 'not a replay' >"$dir/junk.q47r"
"$game" --submit --hub "$url" "$dir/junk.q47r" "$dir/missing.q47r" >"$dir/out" 2>"$dir/err"
[ $? -eq 2 ] || fail "junk files are not exit 2"
grep -q "^q47: $dir/missing.q47r: No such file or directory" "$dir/err" || fail "$(cat "$dir/err")"
[ ! -s "$dir/out" ] || fail "output for junk: $(cat "$dir/out")"
"$game" --check "$source_dir/levels/first-shift.q47l" --write-replays "$dir" >/dev/null ||
  fail "no plans for our pack"
"$game" --submit --hub "$url" "$dir/level01.q47r" 2>"$dir/err"
[ $? -eq 2 ] || fail "a pack's run sent as the built-in levels' is not exit 2"
grep -q -- "--levels" "$dir/err" || fail "no hint at --levels: $(cat "$dir/err")"

# A pack's run goes with --levels PACK, named by its bytes' SHA-256 as the hub names the pack its
# author published (with a winning plan of each level, as the checker wrote them).
pack=$source_dir/levels/first-shift.q47l
python3 - "$url" "$key" "$pack" "$dir" <<'PY' || fail "publishing our pack failed"
import base64, glob, json, sys, urllib.request
url, key, pack, folder = sys.argv[1:]
runs = [base64.b64encode(open(f, 'rb').read()).decode() for f in sorted(glob.glob(folder + '/level*.q47r'))]
body = json.dumps({'pack': open(pack, encoding='utf-8').read(), 'runs': runs}).encode()
request = urllib.request.Request(url + '/api/packs', body, method='POST', headers={
    'Content-Type': 'application/json', 'Authorization': 'Bearer ' + key})
answer = json.load(urllib.request.urlopen(request))
# A publication is a job: followed until it ends, for at most 20 s.
for _ in range(200):
    if answer.get('status') not in ('queued', 'running'):
        break
    __import__('time').sleep(0.1)
    answer = json.load(urllib.request.urlopen(url + '/api/jobs/' + str(answer['job'])))
assert answer['pack'] == __import__('hashlib').sha256(open(pack, 'rb').read()).hexdigest(), answer
PY
"$game" --submit --hub "$url" --levels "$pack" "$dir/level02.q47r" >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 0 ] || fail "--submit --levels: exit $rc: $(cat "$dir/out" "$dir/err")"
grep -q "^$dir/level02.q47r: run .* verified: score [1-9][0-9]* on 1 level (2: " "$dir/out" ||
  fail "a pack's run: $(cat "$dir/out")"

# The kept runs: each sent once, however often --submit runs; runs of another pack wait.
runs=$XDG_STATE_HOME/q47
cp "$replays/level04-win.q47r" "$runs/run-20261201-120000-000001.q47r"
cp "$replays/level05-win.q47r" "$runs/run-20261201-120500-000002.q47r"
cp "$dir/level01.q47r" "$runs/run-20261201-121000-000003.q47r"
cp "$replays/level06-win.q47r" "$runs/last.q47r"
Q47_HUB=$url "$game" --submit >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 0 ] || fail "--submit of the kept runs: exit $rc: $(cat "$dir/out" "$dir/err")"
[ "$(grep -c ' verified: ' "$dir/out")" -eq 2 ] || fail "kept runs: $(cat "$dir/out")"
grep -q '000001.q47r: run' "$dir/out" && grep -q '000002.q47r: run' "$dir/out" ||
  fail "kept runs: $(cat "$dir/out")"
Q47_HUB=$url "$game" --submit >"$dir/out" 2>"$dir/err" || fail "a second --submit failed"
grep -qx "no kept runs of these levels left to send to $url" "$dir/out" || fail "$(cat "$dir/out")"
cp "$replays/level07-win.q47r" "$runs/run-20261201-121500-000004.q47r"
"$game" --submit --hub "$url/" >"$dir/out" 2>"$dir/err" || fail "a third --submit failed"
[ "$(wc -l <"$dir/out")" -eq 1 ] && grep -q '000004.q47r: run .* verified' "$dir/out" ||
  fail "only the new run: $(cat "$dir/out")"

# The key moves to another machine; a different key kept there is not replaced.
"$game" --hub-key-export >"$dir/exported" || fail "--hub-key-export failed"
cmp -s "$dir/exported" "$key_file" || fail "export: $(cat "$dir/exported")"
XDG_STATE_HOME=$dir/other "$game" --hub-key-export 2>"$dir/err"
[ $? -eq 1 ] || fail "export of no key is not exit 1"
XDG_STATE_HOME=$dir/other "$game" --hub-key-import "$dir/exported" || fail "import failed"
cmp -s "$dir/other/q47/hub-key" "$key_file" || fail "imported: $(cat "$dir/other/q47/hub-key")"
[ "$(stat -c %a "$dir/other/q47/hub-key")" = 600 ] || fail "the imported key file is not private"
printf '%064d\n' 7 >"$dir/another"
XDG_STATE_HOME=$dir/other "$game" --hub-key-import "$dir/another" --hub "$url" 2>"$dir/err"
[ $? -eq 2 ] || fail "a second key for one hub was taken"
grep -q 'already holds another key' "$dir/err" || fail "$(cat "$dir/err")"
cmp -s "$dir/other/q47/hub-key" "$key_file" || fail "the kept key changed"

# A key the hub does not know, and a hub that is not there: exit 2 with the reason.
XDG_STATE_HOME=$dir/stranger "$game" --hub-key-import "$dir/another" --hub "$url" ||
  fail "import of a bare key failed"
XDG_STATE_HOME=$dir/stranger "$game" --submit --hub "$url" "$replays/level01-win.q47r" \
  >/dev/null 2>"$dir/err"
[ $? -eq 2 ] || fail "an unknown key is not exit 2"
grep -q 'does not take the key' "$dir/err" || fail "$(cat "$dir/err")"
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$game" --submit --hub "http://127.0.0.1:$closed" "$replays/level01-win.q47r" 2>"$dir/err"
[ $? -eq 2 ] || fail "an unreachable hub is not exit 2"
grep -q "^q47: cannot reach the hub at http://127.0.0.1:$closed: " "$dir/err" || fail "$(cat "$dir/err")"
exit 0
