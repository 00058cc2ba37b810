#!/usr/bin/env bash
# Publishes a package of SIZE MB (default 100) with `vantry-cli publish --provider self` to a
# vantry-server on loopback, beside `curl -T` of the same file to the same server's storage API,
# RUNS times each (default 3), and prints the medians, the job's overhead over the raw upload and
# the peak resident memory of vantry-cli (from /usr/bin/time, or GNU time's format through bash).
#   benchmarks/publish/publish-bench.sh [build-dir] [size-MB] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
size=${2:-100}
runs=${3:-3}
cli="$build/src/cli/vantry-cli"
[ -x "$cli" ] || { echo "publish-bench: build vantry-cli first ($cli)" >&2; exit 2; }
source "$root/benchmarks/server/start-server.sh"
token=$(cat "$work/data/storage-token")

. "$root/benchmarks/make-package.sh"
ipa="$work/Bench.ipa"
make_package "$size" "$ipa"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }

curl_times=()
for i in $(seq "$runs"); do
  t0=$(now)
  curl -fsS -o /dev/null -T "$ipa" -H "Expect:" -H "Authorization: Bearer $token" "${base}storage/files?path=curl/$i/Bench.ipa"
  curl_times+=("$(echo "$(now) - $t0" | bc)")
done

export VANTRY_BACKEND_BASE_URL=$base VANTRY_SELFHOSTED_URL=$base VANTRY_SELFHOSTED_TOKEN=$token
job_times=()
rss=()
for i in $(seq "$runs"); do
  t0=$(now)
  /usr/bin/time -f "%M" -o "$work/rss" "$cli" publish "$ipa" --provider self --quiet --json --force >/dev/null
  job_times+=("$(echo "$(now) - $t0" | bc)")
  rss+=("$(cat "$work/rss")")
done

c=$(printf '%s\n' "${curl_times[@]}" | median)
j=$(printf '%s\n' "${job_times[@]}" | median)
m=$(printf '%s\n' "${rss[@]}" | median)
printf 'package %d MB, %d runs (medians)\n' "$size" "$runs"
printf '  curl -T upload        %6.2f s\n' "$c"
printf '  vantry-cli publish    %6.2f s   (whole job: folders, upload, links, inspection, manifest, icon, QR, createapp)\n' "$j"
printf '  overhead              %6.2f s\n' "$(echo "$j - $c" | bc)"
printf '  peak memory (RSS)     %6.1f MB\n' "$(echo "$m / 1024" | bc -l)"
