#!/usr/bin/env bash
# hub_migrate.sh Q47_HUB DUMP URL: a PostgreSQL database the first hub made (DUMP, from
# pg_dump: two players, a pack with its proofs, a run, two ratings, and a built-in run left
# queued as a killed hub leaves one) is loaded into the empty database URL; q47-hub opens it
# migrated to the current tables, lists the pack with its old plays and ratings, and verifies
# the queued run.
set -uo pipefail
hub=$1
dump=$2
url=$3
dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "hub_migrate: $*" >&2
  exit 1
}
psql -X -q -v ON_ERROR_STOP=1 "$url" -f "$dump" >"$dir/psql" 2>&1 || fail "loading the dump: $(cat "$dir/psql")"
"$hub" --listen 127.0.0.1:0 --database "$url" --rate 0 >"$dir/hub.log" 2>&1 &
pid=$!
base=
for _ in $(seq 100); do
  base=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$dir/hub.log" | head -1)
  [ -n "$base" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the hub did not start: $(cat "$dir/hub.log")"
  sleep 0.1
done
[ -n "$base" ] || fail "the hub did not say where it serves: $(cat "$dir/hub.log")"
[ "$(psql -X -At "$url" -c 'SELECT version FROM schema_version')" = 1 ] || fail "not migrated"
python3 - "$base" <<'PY' || fail "the migrated database does not answer as it should"
import json, sys, time, urllib.request
base = sys.argv[1]
def get(path):
    return json.load(urllib.request.urlopen(base + path))
packs = get('/api/packs?sort=newest')['packs']
assert len(packs) == 1, packs
assert (packs[0]['plays'], packs[0]['ratings'], packs[0]['rating']) == (2, 2, 3.0), packs
for _ in range(100):
    run = get('/api/runs/7')
    if run['status'] != 'queued':
        break
    time.sleep(0.1)
assert run['status'] == 'verified', run
assert run['levels'][0]['level'] == 1, run
PY
echo "hub_migrate: the old database opened migrated"
