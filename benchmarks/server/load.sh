#!/usr/bin/env bash
# Load benchmark of vantry-server with wrk on loopback:
#   GET /app/<userid> for a user with 200 apps, and POST /createapp with fresh app ids.
# Usage: benchmarks/server/load.sh [build-dir] [seconds] [connections]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wrk-args.sh"

# Every request comes from 127.0.0.1: lift the per-address (and per-user) limit on /createapp where
# the build has one. (The help is read whole first: grep -q stopping early would fail the pipe.)
help=$("$build/src/server/vantry-server" --help)
if grep -q apps-per-minute <<<"$help"; then
  SERVER_ARGS="${SERVER_ARGS:-} --apps-per-minute 0"
fi
. "$here/start-server.sh"

# Both users register first, as the desktop app and vantry-cli do, and send the secret they get
# (a server that issues none gets an empty header).
. "$here/bench-users.sh"
getSecret=$(register "$base" benchget)
export BENCH_SECRET
BENCH_SECRET=$(register "$base" benchpost)
seed_apps "$base" benchget "$getSecret"

echo "== GET /app/benchget (200 apps), ${seconds}s, $connections connections"
wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency -H 'Authorization: benchget' \
  -H "X-Vantry-Secret: $getSecret" "${base}app/benchget"
echo "== POST /createapp, ${seconds}s, $connections connections"
wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency -s "$here/createapp.lua" "$base"
stored=$(curl -sf -H 'Authorization: benchpost' -H "X-Vantry-Secret: $BENCH_SECRET" "${base}app/benchpost" | grep -o '"appid"' | wc -l)
echo "apps stored by the POST run: $stored"
