#!/usr/bin/env bash
# A fixed amount of work, to time as a whole process (e.g. two server settings against each
# other): GET /app/<userid> for a user with 200 apps, REQUESTS times over 32 kept-alive
# connections (curl --parallel), each request carrying X-Forwarded-For. Extra arguments go to the
# server.
# Usage: benchmarks/server/app-list.sh BUILD-DIR [REQUESTS] [server options…]
#   e.g. benchmarks/server/app-list.sh build 20000 --trusted-proxy 127.0.0.1
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
requests=${2:-10000}
shift $(( $# < 2 ? $# : 2 ))
SERVER_ARGS="--apps-per-minute 0 $*"
. "$here/start-server.sh"

. "$here/bench-users.sh"
BENCH_SECRET=$(register "$base" benchget)
seed_apps "$base" benchget "$BENCH_SECRET"
for _ in $(seq "$requests"); do
  echo "url = \"${base}app/benchget\""
  echo 'output = "/dev/null"'
done >"$work/urls"
curl -sf --no-progress-meter --parallel --parallel-max 32 -K "$work/urls" -H 'Authorization: benchget' \
  -H "X-Vantry-Secret: $BENCH_SECRET" -H 'X-Forwarded-For: 198.51.100.7, 203.0.113.9' \
  -w '%{http_code}\n' | sort | uniq -c
