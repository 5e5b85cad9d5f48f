#!/usr/bin/env bash
# hub_publish_e2e.sh GAME HUB SOURCE_DIR: publishing from the desktop editor, under a private
# Xvfb, to a real q47-hub on a loopback port. Ctrl+U on a level without a proof publishes
# nothing; V shows the checker's plan, Escape comes back, K keeps it as the level's proof (a
# replay beside the pack), Ctrl+U publishes: the game prints the pack's address, the hub holds
# the pack with the author's score, and the editor opened again finds the kept proof, so Ctrl+U
# alone publishes (the hub says it has the pack already). Against a hub that never answers the
# editor keeps drawing and Escape gives up. Run it under with-xvfb;
# HUB_E2E_KEEP=DIR keeps its screenshots.
set -uo pipefail
game=$1
hub=$2
source_dir=$3
fail() {
  echo "hub_publish_e2e: $*" >&2
  exit 1
}
work=$(mktemp -d)
pid=
hub_pid=
cleanup() {
  [ -n "${HUB_E2E_KEEP:-}" ] && cp "$work"/*.ppm "$HUB_E2E_KEEP"/ 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$hub_pid" ] && kill "$hub_pid" 2>/dev/null && wait "$hub_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../support/e2e.sh"
export HOME=$work/home SDL_AUDIODRIVER=dummy XDG_STATE_HOME=$work/state
mkdir -p "$HOME"
unset Q47_HUB

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
url=http://127.0.0.1:$port
XDG_DATA_HOME=$work/hub-data "$hub" --listen "127.0.0.1:$port" --database "$work/hub.db" \
  >"$work/hub.log" 2>&1 &
hub_pid=$!
for _ in $(seq 100); do
  curl -sf "$url/api/packs?limit=1" >/dev/null && break
  sleep 0.1
done
curl -sf "$url/api/packs?limit=1" >/dev/null || fail "the hub did not start: $(cat "$work/hub.log")"

cp "$source_dir/tests/web/hub_room.q47l" "$work/room.q47l"
edit() {
  "$game" --mute --edit "$work/room.q47l" --hub "$url" >"$work/stdout" 2>"$work/stderr" &
  pid=$!
  find_window "$pid" 100
  focus_window
}
quit() {
  hold Escape
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "the editor did not quit"
  pid=
}
published() { grep -c '^published: ' "$work/stdout"; }

edit
sleep 1                   # the checker's verdict on a level this small comes at once
hold ctrl+u
sleep 0.5
[ "$(published)" -eq 0 ] || fail "published without a proof: $(cat "$work/stdout")"
hold v                    # the plan shown, and back
sleep 0.5
hold Escape
sleep 0.3
hold k
sleep 0.3
[ -f "$work/room.level01.q47r" ] || fail "no proof kept beside the pack: $(ls "$work")"
hold ctrl+u
for _ in $(seq 50); do [ "$(published)" -ge 1 ] && break; sleep 0.1; done
shot published
quit
line=$(grep '^published: ' "$work/stdout")
id=$(sed -n "s|^published: $url/packs/\([0-9a-f]\{64\}\)\$|\1|p" "$work/stdout")
[ -n "$id" ] || fail "no address: $(cat "$work/stdout" "$work/stderr")"
echo "$line"
plan=$("$game" --check "$work/room.q47l" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)[0]["plan_score"])')
curl -sf "$url/api/levels/$id/1/histogram" | python3 -c '
import json, sys
h = json.load(sys.stdin)
assert h["players"] == 1 and h["counts"] == [[int(sys.argv[1]), 1]], h
' "$plan" || fail "the hub's histogram of the published level is not the author's proof alone"
[ "$(stat -c %a "$XDG_STATE_HOME/q47/hub-key")" = 600 ] || fail "the hub key is not private"

# Opened again: the proof beside the pack is found; the same pack again is the same address.
edit
hold ctrl+u
for _ in $(seq 50); do [ "$(published)" -ge 1 ] && break; sleep 0.1; done
quit
grep -qx "published: $url/packs/$id" "$work/stdout" ||
  fail "the kept proof was not found again: $(cat "$work/stdout" "$work/stderr")"

# A hub that takes the connection and never answers: the editor keeps drawing while it waits
# (F1's help shows at once), Escape gives up, and the editor quits without waiting for the hub.
silent=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$silent" <<'PY' &
import socket, sys, time
server = socket.socket()
server.bind(('127.0.0.1', int(sys.argv[1])))
server.listen(8)
held = []
end = time.time() + 60
server.settimeout(1)
while time.time() < end:
    try:
        held.append(server.accept()[0])
    except socket.timeout:
        pass
PY
silent_pid=$!
"$game" --mute --edit "$work/room.q47l" --hub "http://127.0.0.1:$silent" >"$work/stdout" 2>"$work/stderr" &
pid=$!
find_window "$pid" 100
focus_window
hold ctrl+u
sleep 0.3
shot waiting
hold F1
sleep 0.3
shot help
changed=$(compare -metric AE "$work/waiting.ppm" "$work/help.ppm" null: 2>&1 || true)
awk -v n="${changed%% *}" 'BEGIN { exit !(n + 0 > 1000) }' ||
  fail "the editor stopped drawing while the hub did not answer ($changed pixels changed)"
hold Escape               # the help closes
hold Escape               # the wait is given up; the editor stays
sleep 0.3
kill -0 "$pid" 2>/dev/null || fail "Escape while publishing ended the editor"
quit
kill "$silent_pid" 2>/dev/null; wait "$silent_pid" 2>/dev/null
grep -q '^published: ' "$work/stdout" && fail "a publication given up on was said: $(cat "$work/stdout")"
exit 0
