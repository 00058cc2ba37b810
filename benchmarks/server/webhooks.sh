#!/usr/bin/env bash
# What webhooks cost the requests that send them: wrk on POST /createapp and on the install
# redirect (every install counted, so every request is an event) against a server without
# webhooks, one whose receiver is down (connections refused), and one whose receiver answers only
# after 10 s; then the server's resident memory after about 10,000 events and after the rest.
# Usage: benchmarks/server/webhooks.sh [build-dir] [seconds] [connections]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wrk-args.sh"
. "$here/bench-users.sh"
command -v python3 >/dev/null || { echo "webhooks.sh: python3 is needed for the slow receiver" >&2; exit 2; }

# The slow receiver: takes every POST and answers 200 after 10 s (many at once).
slow_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$slow_port" <<'PY' &
import http.server, socketserver, sys, time
class Slow(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        time.sleep(10)
        self.send_response(200); self.send_header("Content-Length", "0"); self.end_headers()
    def log_message(self, *args): pass
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
Server(("127.0.0.1", int(sys.argv[1])), Slow).serve_forever()
PY
receiver=$!
# A port nothing listens on.
down_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
trap 'kill "$receiver" 2>/dev/null || true' EXIT

rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# "requests/s cpu-µs-per-request": the rate, and the server's processor time per request, which a
# busy machine disturbs far less than the rate.
rate() {
  local before after out
  before=$(ticks "$pid")
  out=$(wrk -t"$threads" -c"$connections" -d"${seconds}s" -s "$1" "$base")
  after=$(ticks "$pid")
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" '
    /requests in/ { n = $1 } /Requests\/sec/ { r = $2 }
    END { printf "%d %d", r, t * 1000000 / hz / n }' <<<"$out"
}

# One line: label, createapp/s and µs of server processor time per createapp, the same for installs,
# resident kB at start, after 10,000 install events, at the end.
measure() {
  local label=$1
  SERVER_ARGS="--apps-per-minute 0 --installs-per-minute 0 --install-repeat-window 0 ${2:-}"
  (
    . "$here/start-server.sh"
    secret=$(register "$base" benchpost)
    export BENCH_SECRET=$secret BENCH_APPID=bench00001
    curl -sf -o /dev/null -X POST -H 'Content-Type: application/json' -H 'Authorization: benchpost' \
      -H "X-Vantry-Secret: $secret" --data-binary '{"userid":"benchpost","appname":"Bench","appicon":"","appversion":"1.0","appurl":"https://files.example.test/Bench.ipa","appid":"bench00001","appdate":"2026/12/06 07:00","appsize":"12 MB","minos":"14.0","qrLink":"","appdescription":"","bundleid":"com.example.bench"}' \
      "${base}createapp"
    start=$(rss "$pid")
    for _ in $(seq 10); do # 10,000 installs, each an event
      curl -s -o /dev/null -H 'User-Agent: Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X)' \
        --parallel --parallel-max 50 $(printf "${base}bench00001/install %.0s" $(seq 1000)) 2>/dev/null || true
    done
    after10k=$(rss "$pid")
    read -r apps appsCpu <<<"$(rate "$here/createapp.lua")"
    read -r installs installsCpu <<<"$(rate "$here/install.lua")"
    printf '%-10s %8s %8s %8s %8s %9s %9s %9s\n' "$label" "$apps" "$appsCpu" "$installs" "$installsCpu" \
      "$start" "$after10k" "$(rss "$pid")"
  )
}

rounds=${ROUNDS:-3}
printf '%-10s %8s %8s %8s %8s %9s %9s %9s\n' "receiver" "apps/s" "µs/app" "inst/s" "µs/inst" "kB start" \
  "kB 10k" "kB end"
# The three in turn, round after round, so that a busy moment of the machine hits them alike.
results=$(mktemp)
for _ in $(seq "$rounds"); do
  measure "none" ""
  measure "down" "--webhook http://127.0.0.1:$down_port/hook --webhook-secret bench"
  measure "slow(10s)" "--webhook http://127.0.0.1:$slow_port/hook --webhook-secret bench"
done | tee "$results"
awk '
  function median(list,   v, c, x, y, t) {
    c = split(list, v, " ")
    for (x = 1; x <= c; x++) for (y = x + 1; y <= c; y++) if (v[y] + 0 < v[x] + 0) { t = v[x]; v[x] = v[y]; v[y] = t }
    return v[int((c + 1) / 2)]
  }
  { for (c = 2; c <= 8; c++) col[$1, c] = col[$1, c] " " $c; seen[$1] = 1 }
  END {
    print "medians:"
    for (k in seen) {
      printf "%-10s", k
      for (c = 2; c <= 8; c++) printf " %8s", median(col[k, c])
      printf "\n"
    }
  }' "$results"
rm -f "$results"
