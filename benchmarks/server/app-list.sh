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

register() {
  curl -sf -X POST -H 'Content-Type: application/json' \
    --data-binary "{\"email\":\"$1@bench.test\",\"username\":\"$1\",\"photoURL\":\"\",\"userid\":\"$1\"}" \
    "${base}addnewuser" | sed -n 's/.*"userSecret":"\([^"]*\)".*/\1/p'
}
BENCH_SECRET=$(register benchget)
# The 200 apps in one curl (one connection), so the seeding costs little beside the measured part.
for i in $(seq 1 200); do
  [ "$i" -gt 1 ] && echo next
  echo "url = \"${base}createapp\""
  echo 'header = "Content-Type: application/json"'
  echo 'header = "Authorization: benchget"'
  echo "header = \"X-Vantry-Secret: $BENCH_SECRET\""
  printf 'data-binary = "{\\"userid\\":\\"benchget\\",\\"appname\\":\\"App %d\\",\\"appicon\\":\\"\\",\\"appversion\\":\\"1.%d\\",\\"appurl\\":\\"https://files.example.test/a%d.apk\\",\\"appid\\":\\"seed%06d\\",\\"appdate\\":\\"2026/12/06 07:00\\",\\"appsize\\":\\"42 MB\\",\\"minos\\":\\"14.0\\",\\"qrLink\\":\\"\\",\\"appdescription\\":\\"\\"}"\n' "$i" "$i" "$i" "$i"
  echo 'output = "/dev/null"'
done >"$work/seed"
curl -sf -K "$work/seed"
echo "seeded $(curl -sf -H 'Authorization: benchget' -H "X-Vantry-Secret: $BENCH_SECRET" "${base}app/benchget" | grep -o '"appid"' | wc -l) apps"
for _ in $(seq "$requests"); do
  echo "url = \"${base}app/benchget\""
  echo 'output = "/dev/null"'
done >"$work/urls"
curl -sf --no-progress-meter --parallel --parallel-max 32 -K "$work/urls" -H 'Authorization: benchget' \
  -H "X-Vantry-Secret: $BENCH_SECRET" -H 'X-Forwarded-For: 198.51.100.7, 203.0.113.9' \
  -w '%{http_code}\n' | sort | uniq -c
