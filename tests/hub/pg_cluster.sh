#!/usr/bin/env bash
# pg_cluster.sh start DIR | stop DIR | down DIR | up DIR: a private PostgreSQL for one test run.
#   start  makes a new cluster in DIR (which must not exist yet, or be empty), starts it on a
#          Unix socket in DIR only (no TCP port to collide with anything), waits until it takes
#          connections, makes the database q47 and prints its URL on standard output:
#            postgresql://q47@/q47?host=DIR
#   stop   stops the cluster in DIR (fast: open connections are cut) and removes DIR.
#   down   stops it as stop does but keeps it; up starts it again: a database server restarted
#          under a running hub.
# PostgreSQL refuses to run as root, so as root the cluster belongs to the unprivileged user
# q47test (made here when missing); the connecting side may still be root, which reaches the
# socket through DIR. Otherwise it runs as the current user. PG_BIN overrides the programs'
# folder (default: PostgreSQL 15's in Debian).
set -euo pipefail
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
CLUSTER_USER=q47test
me=pg_cluster.sh

usage() {
  echo "usage: $me start DIR | stop DIR | down DIR | up DIR" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action=$1
dir=$2
[ -n "$dir" ] || usage
case "$dir" in /*) ;; *) dir=$PWD/$dir ;; esac

# Runs a command as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$CLUSTER_USER" -- "$@"
  else
    "$@"
  fi
}

start() {
  for program in initdb pg_ctl postgres; do
    [ -x "$PG_BIN/$program" ] || {
      echo "$me: $PG_BIN/$program is missing (apt-get install postgresql-15)" >&2
      exit 2
    }
  done
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    echo "$me: $dir is not empty; a cluster is made in a new folder" >&2
    exit 2
  fi
  # A Unix socket's path is at most 107 bytes, the socket's own name included.
  if [ $((${#dir} + 20)) -gt 107 ]; then
    echo "$me: $dir is too long a path for a Unix socket; use a shorter one" >&2
    exit 2
  fi
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    if ! id "$CLUSTER_USER" >/dev/null 2>&1; then
      useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin "$CLUSTER_USER"
    fi
    chown "$CLUSTER_USER:" "$dir"
    chmod 0700 "$dir"
    if ! runuser -u "$CLUSTER_USER" -- test -w "$dir"; then
      echo "$me: $CLUSTER_USER cannot reach $dir (a folder above it is private to root);" \
        "choose a folder others may pass through, such as one made with mktemp -d and chmod 0711" >&2
      exit 2
    fi
  fi
  if ! as_owner "$PG_BIN/initdb" -D "$dir/data" -A trust -U q47 -E UTF8 --locale=C.UTF-8 \
    >"$dir/initdb.log" 2>&1; then
    echo "$me: initdb failed:" >&2
    cat "$dir/initdb.log" >&2
    exit 1
  fi
  up
  if ! as_owner "$PG_BIN/createdb" -h "$dir" -U q47 q47 2>"$dir/createdb.log"; then
    echo "$me: createdb failed: $(cat "$dir/createdb.log")" >&2
    as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    exit 1
  fi
  echo "postgresql://q47@/q47?host=$dir"
}

# Starts the cluster made in DIR: sockets only, in the cluster's own folder; enough
# connections for a hub's pool and a load.
up() {
  if ! as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $dir -c max_connections=200" start >/dev/null; then
    echo "$me: the server did not start:" >&2
    cat "$dir/server.log" >&2
    exit 1
  fi
}

down() {
  as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
}

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null ||
      as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  fi
  # Only a folder that holds a cluster is removed: a mistyped DIR must not cost anything else.
  if [ -d "$dir/data" ] || [ -f "$dir/initdb.log" ]; then
    rm -rf "$dir"
  elif [ -e "$dir" ]; then
    echo "$me: $dir holds no cluster; left as it is" >&2
    exit 1
  fi
}

case "$action" in
  start) start ;;
  stop) stop ;;
  down) down ;;
  up) up ;;
  *) usage ;;
esac
