#!/usr/bin/env bash
# Load benchmark of vantry-server with wrk on loopback:
#   GET /app/<userid> for a user with 200 apps, and POST /createapp with fresh app ids.
# Usage: benchmarks/server/load.sh [build-dir] [seconds] [connections]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
seconds=${2:-10}
connections=${3:-32}
threads=$(( connections < 2 ? 1 : 2 ))
command -v wrk >/dev/null || { echo "load.sh: wrk is not installed (scripts/bootstrap)" >&2; exit 2; }

# Every request comes from 127.0.0.1: lift the per-address (and per-user) limit on /createapp where
# the build has one. (The help is read whole first: grep -q stopping early would fail the pipe.)
help=$("$build/src/server/vantry-server" --help)
if grep -q apps-per-minute <<<"$help"; then
  SERVER_ARGS="${SERVER_ARGS:-} --apps-per-minute 0"
fi
. "$here/start-server.sh"

# Both users register first, as the desktop app and vantry-cli do, and send the secret they get
# (a server that issues none gets an empty header).
register() {
  curl -sf -X POST -H 'Content-Type: application/json' \
    --data-binary "{\"email\":\"$1@bench.test\",\"username\":\"$1\",\"photoURL\":\"\",\"userid\":\"$1\"}" \
    "${base}addnewuser" | sed -n 's/.*"userSecret":"\([^"]*\)".*/\1/p'
}
getSecret=$(register benchget)
export BENCH_SECRET
BENCH_SECRET=$(register benchpost)

for i in $(seq 1 200); do
  printf '{"userid":"benchget","appname":"App %d","appicon":"https://files.example.test/icon%d.png","appversion":"1.%d","appurl":"itms-services://?action=download-manifest&url=https://files.example.test/m%d.plist","appid":"seed%06d","appdate":"2026/12/06 07:00","appsize":"42 MB","minos":"14.0","qrLink":"https://files.example.test/qr%d.png","appdescription":""}' \
    "$i" "$i" "$i" "$i" "$i" "$i" |
    curl -sf -o /dev/null -X POST -H 'Content-Type: application/json' -H 'Authorization: benchget' \
      -H "X-Vantry-Secret: $getSecret" \
      --data-binary @- "${base}createapp"
done
count=$(curl -sf -H 'Authorization: benchget' -H "X-Vantry-Secret: $getSecret" "${base}app/benchget" | grep -o '"appid"' | wc -l)
echo "seeded $count apps for benchget"

echo "== GET /app/benchget (200 apps), ${seconds}s, $connections connections"
wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency -H 'Authorization: benchget' \
  -H "X-Vantry-Secret: $getSecret" "${base}app/benchget"
echo "== POST /createapp, ${seconds}s, $connections connections"
wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency -s "$here/createapp.lua" "$base"
stored=$(curl -sf -H 'Authorization: benchpost' -H "X-Vantry-Secret: $BENCH_SECRET" "${base}app/benchpost" | grep -o '"appid"' | wc -l)
echo "apps stored by the POST run: $stored"
