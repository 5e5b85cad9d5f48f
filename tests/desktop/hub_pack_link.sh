#!/usr/bin/env bash
# hub_pack_link.sh GAME HUB SOURCE_DIR: q47 --levels with a link to a pack on a real q47-hub on a
# loopback port. Both forms of the link play the pack (a plan of its checker verifies on it, and a
# run of it is sent with --submit as that pack's); a link to no pack, a link that is not one, a
# server that hands over other bytes than the link names or too many of them, and a hub that is
# not there are each one line and exit 2.
set -uo pipefail
game=$1
hub=$2
source_dir=$3
dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "hub_pack_link: $*" >&2; exit 1; }
unset DISPLAY WAYLAND_DISPLAY Q47_HUB
export XDG_STATE_HOME=$dir/state
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_for() {
  for _ in $(seq 100); do
    curl -s -o /dev/null "$1" && return 0
    sleep 0.1
  done
  return 1
}

port=$(free_port)
url=http://127.0.0.1:$port
XDG_DATA_HOME=$dir/hub-data "$hub" --listen "127.0.0.1:$port" --database "$dir/hub.db" \
  >"$dir/hub.log" 2>&1 &
pids+=($!)
wait_for "$url/api/packs?limit=1" || fail "the hub did not start: $(cat "$dir/hub.log")"

# Our pack published with its checker's plans as proofs.
pack=$source_dir/levels/first-shift.q47l
"$game" --check "$pack" --write-replays "$dir" >/dev/null || fail "no plans for our pack"
id=$(python3 - "$url" "$pack" "$dir" <<'PY'
import base64, glob, json, sys, urllib.request
url, pack, folder = sys.argv[1:]
def call(path, body, key=None):
    headers = {'Content-Type': 'application/json'}
    if key:
        headers['Authorization'] = 'Bearer ' + key
    request = urllib.request.Request(url + path, json.dumps(body).encode(), headers=headers)
    return json.load(urllib.request.urlopen(request))
key = call('/api/players', {'name': 'author'})['key']
runs = [base64.b64encode(open(f, 'rb').read()).decode()
        for f in sorted(glob.glob(folder + '/level*.q47r'))]
answer = call('/api/packs', {'pack': open(pack, encoding='utf-8').read(), 'runs': runs}, key)
# A publication is a job: followed until it ends, for at most 20 s.
for _ in range(200):
    if answer.get('status') not in ('queued', 'running'):
        break
    __import__('time').sleep(0.1)
    answer = json.load(urllib.request.urlopen(url + '/api/jobs/' + str(answer['job'])))
print(answer['pack'])
PY
) || fail "publishing our pack failed"
[ "$id" = "$(sha256sum "$pack" | cut -d' ' -f1)" ] || fail "the pack's id is $id"

# Both forms of the link play the very pack: a plan of its level 2 verifies on it.
for link in "$url/packs/$id" "$url/api/packs/$id/file"; do
  "$game" --levels "$link" --verify "$dir/level02.q47r" >"$dir/out" 2>"$dir/err" ||
    fail "--levels $link --verify: $(cat "$dir/out" "$dir/err")"
  "$game" --levels "$link" --check >"$dir/out" 2>"$dir/err" ||
    fail "--levels $link --check: $(cat "$dir/err")"
  "$game" --check "$pack" >"$dir/local" 2>/dev/null
  cmp -s "$dir/out" "$dir/local" || fail "the linked pack checks otherwise than the file"
done
# The built-in levels' run does not verify on it: the link's pack is what is played.
"$game" --levels "$url/packs/$id" --verify "$source_dir/tests/replays/level01-win.q47r" \
  >/dev/null 2>&1
[ $? -eq 2 ] || fail "a built-in levels' replay was taken on the linked pack"
# A run sent with the link goes to that pack on the hub.
"$game" --submit --hub "$url" --levels "$url/packs/$id" "$dir/level01.q47r" >"$dir/out" 2>"$dir/err" ||
  fail "--submit --levels LINK: $(cat "$dir/out" "$dir/err")"
grep -q "verified: score [1-9][0-9]* on 1 level (1: " "$dir/out" || fail "$(cat "$dir/out")"

# Bad links: one line on standard error each, exit 2, and no window ever asked for.
bad() {
  local link=$1 expected=$2
  "$game" --levels "$link" --check >"$dir/out" 2>"$dir/err"
  local rc=$?
  [ "$rc" -eq 2 ] || fail "--levels $link: exit $rc"
  [ "$(wc -l <"$dir/err")" -eq 1 ] || fail "--levels $link said: $(cat "$dir/err")"
  grep -q -- "^q47: $link: $expected" "$dir/err" || fail "--levels $link said: $(cat "$dir/err")"
}
unknown=$(printf '%064d' 0)
bad "$url/packs/$unknown" ".*no such pack"
bad "$url/packs/${id:0:16}" "not a link to a hub's pack"
bad "$url/levels/$id" "not a link to a hub's pack"
closed=$(free_port)
bad "http://127.0.0.1:$closed/packs/$id" "cannot reach the hub: "

# A server that is no honest hub: other bytes than the link names, and more than a pack may be.
mkdir -p "$dir/site/api/packs/$id" "$dir/site/api/packs/$unknown"
printf 'not the pack\n' >"$dir/site/api/packs/$id/file"
head -c $((5 << 20)) /dev/zero | tr '\0' 'x' >"$dir/site/api/packs/$unknown/file"
fake_port=$(free_port)
(cd "$dir/site" && exec python3 -m http.server --bind 127.0.0.1 "$fake_port") >/dev/null 2>&1 &
pids+=($!)
wait_for "http://127.0.0.1:$fake_port/" || fail "the fake server did not start"
bad "http://127.0.0.1:$fake_port/packs/$id" "what the hub sent is not the pack the link names"
bad "http://127.0.0.1:$fake_port/packs/$unknown" ""
exit 0
