#!/usr/bin/env bash
# How long a health probe takes while many clients hold connections open without finishing a
# request: half send nothing, half send an unfinished header.
# Usage: benchmarks/server/slow-clients.sh [build-dir] [connections]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
count=${2:-1000}

# All the clients come from 127.0.0.1 here: lift the per-address limit where there is one.
# (The help is read whole first: grep -q stopping early would fail the pipe under pipefail.)
help=$("$build/src/server/vantry-server" --help)
if grep -q max-connections-per-address <<<"$help"; then
  SERVER_ARGS="--max-connections-per-address $((count + 100))"
fi
. "$here/start-server.sh"
port=${base##*:}
port=${port%/}
fds=()
for i in $(seq 1 "$count"); do
  exec {fd}<>"/dev/tcp/127.0.0.1/$port" || break
  fds+=("$fd")
  (( i % 2 == 0 )) && printf 'GET /healthz HTTP/1.1\r\nX-Slow: 1\r\n' >&"$fd"
done
echo "== health probes with ${#fds[@]} idle or trickling connections open"
for round in 1 2 3 4 5; do
  curl -sS -o /dev/null -m 30 -w "probe $round: %{http_code} in %{time_total} s\n" "${base}healthz" || echo "probe $round: no answer in 30 s"
done
for fd in "${fds[@]}"; do exec {fd}>&-; done
