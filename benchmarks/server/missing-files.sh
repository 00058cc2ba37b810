#!/usr/bin/env bash
# A missing file in a large storage folder: wrk on GET /files/Vantry/<missing job>/App.ipa (a 404)
# against a server whose Vantry folder holds 10 job folders, then 100,000 (made on disk before the
# server starts, as an existing data folder has them), with the time /healthz takes meanwhile and
# the server's resident memory afterwards.
# Usage: benchmarks/server/missing-files.sh [build-dir] [seconds] [connections]
#        FOLDERS="10 1000" benchmarks/server/missing-files.sh …   (other folder counts)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
seconds=${2:-10}
connections=${3:-32}
threads=$(( connections < 2 ? 1 : 2 ))
command -v wrk >/dev/null || { echo "missing-files.sh: wrk is not installed (scripts/bootstrap)" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vantry-folders-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

for folders in ${FOLDERS:-10 100000}; do
  files="$scratch/files-$folders"
  mkdir -p "$files/Vantry"
  (cd "$files/Vantry" && seq -f 'Job_%06g_20260101-120000' 1 "$folders" | xargs mkdir)
  touch "$files/Vantry/Job_000001_20260101-120000/App.ipa"
  (
    SERVER_ARGS="--storage file:$files ${SERVER_ARGS:-}"
    . "$here/start-server.sh"
    missing="${base}files/Vantry/Missing_Job/App.ipa"
    [ "$(curl -s -o /dev/null -w '%{http_code}' "$missing")" = 404 ] || { echo "expected 404 for $missing" >&2; exit 1; }
    echo "== $folders folders: GET a missing file, ${seconds}s, $connections connections"
    wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$missing" >"$work/wrk.txt" &
    wrkPid=$!
    sleep $(( seconds / 2 ))
    printf '/healthz during the run (s):'
    for _ in 1 2 3; do printf ' %s' "$(curl -s -o /dev/null -w '%{time_total}' "${base}healthz")"; done
    echo
    wait $wrkPid
    grep -E 'Requests/sec|Non-2xx|Latency  |  99%' "$work/wrk.txt"
    grep -E 'VmRSS|VmHWM' "/proc/$pid/status" | tr -s ' \t' ' '
  )
done
