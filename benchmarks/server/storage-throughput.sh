#!/usr/bin/env bash
# Upload and download throughput of the self-hosted storage on loopback, with curl as the client,
# beside cp of the same file on the same disk.
# Usage: benchmarks/server/storage-throughput.sh [build-dir] [MiB]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
mib=${2:-1024}

. "$here/start-server.sh"
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
peak=$(awk '/VmHWM/ {print int($2/1024)}' "/proc/$pid/status")

rate() { echo "scale=0; $mib / $1" | bc -l; }
ratio() { echo "scale=2; $cp_time / $1" | bc -l; }
printf 'file: %d MiB\n' "$mib"
printf 'cp:       %6.2f s  %5d MiB/s\n' "$cp_time" "$(rate "$cp_time")"
printf 'upload:   %6.2f s  %5d MiB/s  (%.2f of cp)\n' "$up_time" "$(rate "$up_time")" "$(ratio "$up_time")"
printf 'cat:      %6.2f s  %5d MiB/s\n' "$cat_time" "$(rate "$cat_time")"
printf 'download: %6.2f s  %5d MiB/s  (%.2f of cat)\n' "$down_time" "$(rate "$down_time")" "$(echo "scale=2; $cat_time / $down_time" | bc -l)"
printf 'server peak resident memory: %d MiB\n' "$peak"
