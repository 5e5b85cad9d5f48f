#!/usr/bin/env bash
# with_postgresql.sh COMMAND [ARG]...: runs COMMAND with a private PostgreSQL of its own
# (pg_cluster.sh), its URL in Q47_HUB_DATABASE and in place of every ARG that is @DATABASE@,
# its folder in Q47_HUB_PG_CLUSTER (for pg_cluster.sh down and up),
# and stops and removes the cluster afterwards, whatever way COMMAND ends. The exit status is
# COMMAND's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
# The cluster's owner must pass through to its folder when this runs as root.
chmod 0711 "$dir"
url=$("$here/pg_cluster.sh" start "$dir/pg") || {
  rm -rf "$dir"
  exit 1
}
stop() {
  "$here/pg_cluster.sh" stop "$dir/pg"
  rmdir "$dir" 2>/dev/null
}
trap stop EXIT
trap 'exit 143' TERM INT
words=()
for word in "$@"; do
  [ "$word" = @DATABASE@ ] && word=$url
  words+=("$word")
done
Q47_HUB_DATABASE=$url Q47_HUB_PG_CLUSTER=$dir/pg "${words[@]}"
