#!/usr/bin/env bash
# Upload and download throughput of the self-hosted storage on loopback, with curl as the client,
# beside cp of the same file on the same disk. With "s3" the files go to the fauxqs emulator
# (in memory, from build/test-tools; see scripts/bootstrap) through the server's S3 store.
# Usage: benchmarks/server/storage-throughput.sh [build-dir] [MiB] [file|s3]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
mib=${2:-1024}
mode=${3:-file}

if [ "$mode" = s3 ]; then
  fauxqs="$build/test-tools/node_modules/fauxqs"
  [ -f "$fauxqs/dist/app.js" ] || { echo "$(basename "$0"): run scripts/bootstrap for the S3 emulator" >&2; exit 2; }
  emulator_log=$(mktemp)
  node "$here/../../tests/fakes/s3/s3-emulator.mjs" "$fauxqs" 0 >"$emulator_log" 2>&1 &
  emulator=$!
  for _ in $(seq 100); do
    grep -q listening "$emulator_log" && break
    sleep 0.05
  done
  s3port=$(sed -n 's/^listening //p' "$emulator_log")
  rm -f "$emulator_log"
  curl -sSf -X PUT "http://127.0.0.1:$s3port/bench" -o /dev/null
  SERVER_ARGS="--storage s3://bench/files --s3-endpoint http://127.0.0.1:$s3port --s3-access-key bench --s3-secret-key bench"
fi

. "$here/start-server.sh"
if [ "$mode" = s3 ]; then
  trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; kill $emulator 2>/dev/null; rm -rf "$work"' EXIT
fi
token=$(cat "$work/data/storage-token")

head -c $((mib * 1024 * 1024)) /dev/urandom >"$work/source.bin"
sync

seconds() { local s e; s=$(date +%s.%N); "$@"; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

cp_time=$(seconds sh -c "cp '$work/source.bin' '$work/copy.bin' && sync")
rm -f "$work/copy.bin"
cat_time=$(seconds sh -c "cat '$work/source.bin' >'$work/copy.bin' && sync")
rm -f "$work/copy.bin"
up_time=$(seconds sh -c "curl -sSf -o /dev/null -T '$work/source.bin' -H 'Expect:' -H 'Authorization: Bearer $token' '${base}storage/files?path=bench/source.bin' && sync")
down_time=$(seconds sh -c "curl -sSf -o '$work/download.bin' '${base}files/bench/source.bin' && sync")
cmp -s "$work/source.bin" "$work/download.bin" || { echo "download differs" >&2; exit 1; }
rm -f "$work/download.bin"
# The same without the disk: what the server and its storage deliver.
wire_time=$(seconds curl -sSf -o /dev/null "${base}files/bench/source.bin")
peak=$(awk '/VmHWM/ {print int($2/1024)}' "/proc/$pid/status")

rate() { echo "scale=0; $mib / $1" | bc -l; }
ratio() { echo "scale=2; $cp_time / $1" | bc -l; }
printf 'file: %d MiB, storage: %s\n' "$mib" "$mode"
printf 'cp:       %6.2f s  %5d MiB/s\n' "$cp_time" "$(rate "$cp_time")"
printf 'upload:   %6.2f s  %5d MiB/s  (%.2f of cp)\n' "$up_time" "$(rate "$up_time")" "$(ratio "$up_time")"
printf 'cat:      %6.2f s  %5d MiB/s\n' "$cat_time" "$(rate "$cat_time")"
printf 'download: %6.2f s  %5d MiB/s  (%.2f of cat)\n' "$down_time" "$(rate "$down_time")" "$(echo "scale=2; $cat_time / $down_time" | bc -l)"
printf 'download to /dev/null: %6.2f s  %5d MiB/s\n' "$wire_time" "$(rate "$wire_time")"
if [ "$mode" = s3 ]; then
  # The emulator's own pace, for scale: one GET of the object, straight from it.
  direct_time=$(seconds curl -sSf -o /dev/null "http://127.0.0.1:$s3port/bench/files/bench/source.bin")
  printf 'emulator GET to /dev/null: %6.2f s  %5d MiB/s\n' "$direct_time" "$(rate "$direct_time")"
fi
printf 'server peak resident memory: %d MiB\n' "$peak"
