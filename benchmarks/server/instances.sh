#!/usr/bin/env bash
# SQLite against PostgreSQL, and one instance against two on one PostgreSQL database: wrk on
# GET /app/<userid> (a user with 200 apps) and on the install redirect (GET /<appid>/install,
# one database write each). Two instances get one wrk each at the same time; their figures add up.
# PostgreSQL is a throwaway cluster in a temporary folder on a free loopback port (run as the
# postgres account when this runs as root), removed at the end.
# PG_SETTINGS adds server settings, e.g. PG_SETTINGS="-c synchronous_commit=off" to commit
# without waiting for the disk (SQLite's WAL mode with synchronous=NORMAL does not wait either).
# Usage: benchmarks/server/instances.sh [build-dir] [seconds] [connections per instance]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wrk-args.sh"
server="$build/src/server/vantry-server"
[ -x "$server" ] || { echo "instances.sh: build vantry-server first ($server)" >&2; exit 2; }
bin=$(dirname "$(readlink -f "$(command -v initdb || ls /usr/lib/postgresql/*/bin/initdb | sort -V | tail -1)")")
[ -x "$bin/pg_ctl" ] || { echo "instances.sh: PostgreSQL's server programs are not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/vantry-bench-pg-XXXXXX)
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$work"
  as_pg=(runuser -u postgres --)
fi
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  "${as_pg[@]}" "$bin/pg_ctl" -D "$work/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
pgport=$(( 20000 + RANDOM % 20000 ))
"${as_pg[@]}" "$bin/initdb" -D "$work/data" -A trust -U vantry -E UTF8 --locale=C >"$work/initdb.log"
"${as_pg[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/pg.log" -w \
  -o "-k $work -h 127.0.0.1 -p $pgport -c max_connections=200 ${PG_SETTINGS:-}" start >/dev/null
psql -q -h 127.0.0.1 -p "$pgport" -U vantry -d postgres -c "CREATE DATABASE bench" >/dev/null
pgurl="postgresql://vantry@127.0.0.1:$pgport/bench"

# Starts an instance; sets $base. Limits are off: every request comes from 127.0.0.1.
limits=(--installs-per-minute 0 --max-connections-per-address 4096 ${SERVER_ARGS:-})
help=$("$server" --help)
if grep -q apps-per-minute <<<"$help"; then limits+=(--apps-per-minute 0); fi
start() {
  local log="$work/server-$1.log"
  shift
  "$server" --data-dir "$work/data-$RANDOM" --listen 127.0.0.1:0 "${limits[@]}" "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do grep -q "listening on" "$log" && break; sleep 0.05; done
  base=$(sed -n 's/.*listening on \(http:\/\/[^ ]*\/\).*/\1/p' "$log" | head -1)
  [ -n "$base" ] || { cat "$log" >&2; exit 1; }
}

# The user registers first and sends its secret, as real clients do.
. "$here/bench-users.sh"
secret=""
seed() {
  secret=$(register "$1" benchget)
  seed_apps "$1" benchget "$secret" >/dev/null
}

# wrk on one URL of every base at once; prints the summed requests per second.
measure() {
  local path=$1
  shift
  local i=0 outs=() runs=()
  for b in "$@"; do
    wrk -t1 -c"$connections" -d"${seconds}s" -H 'Authorization: benchget' -H "X-Vantry-Secret: $secret" "${b}${path}" >"$work/wrk-$i.txt" &
    runs+=($!)
    outs+=("$work/wrk-$i.txt")
    i=$((i + 1))
  done
  wait "${runs[@]}"
  awk '/Requests\/sec/ { sum += $2 } / Non-2xx or 3xx/ { bad += $5 } END { printf "%.0f req/s%s", sum, bad ? " (" bad " non-2xx/3xx)" : "" }' "${outs[@]}"
}

report() {
  printf '%-32s GET /app/benchget: %-24s install redirect: %s\n' "$1" "$(measure app/benchget "${@:2}")" \
    "$(measure seed000001/install "${@:2}")"
}

echo "== wrk ${seconds}s, $connections connections per instance, $(nproc) cores${PG_SETTINGS:+, PostgreSQL $PG_SETTINGS}"
start sqlite
seed "$base"
report "SQLite, one instance" "$base"
kill -TERM "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true; pids=()

start pg1 --database "$pgurl"
first=$base
seed "$first"
report "PostgreSQL, one instance" "$first"
start pg2 --database "$pgurl"
report "PostgreSQL, two instances" "$first" "$base"
