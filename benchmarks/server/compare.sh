#!/usr/bin/env bash
# Two builds of vantry-server side by side on this machine, with the same settings:
# GET /app/<userid> and POST /createapp under wrk, a health probe behind idle connections, and
# storage upload/download throughput against cp and cat.
# Usage: benchmarks/server/compare.sh OLD-BUILD-DIR NEW-BUILD-DIR [seconds] [connections] [MiB] [idle]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
old=$1
new=$2
seconds=${3:-10}
connections=${4:-32}
mib=${5:-512}
idle=${6:-1000}

for label in old new; do
  build=${!label}
  echo "######## $label: $build"
  "$here/load.sh" "$build" "$seconds" "$connections" | grep -E '^(==|seeded|apps stored)|Requests/sec|Latency  '
  "$here/slow-clients.sh" "$build" "$idle"
  "$here/storage-throughput.sh" "$build" "$mib"
done
