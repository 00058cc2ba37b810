#!/usr/bin/env bash
# Publishes a package with `vantry-cli publish` to each storage provider over a wide-area link, beside
# curl sending the same bytes in one request to the same server through the same link, and prints a
# table. The providers are the emulators of tests/fakes (Dropbox, Drive, WorkDrive) and vantry-server
# (self-hosted, also the backend of every run); the link is wan-link (WanLink.cpp): a round trip per
# connection and per answer, and one bandwidth cap shared by every connection.
#   benchmarks/storage/wan.sh [build-dir]
# Environment (defaults in brackets):
#   SIZES      package sizes in MB                       [400]
#   LINKS      round trip (ms) : bandwidth (MB/s) pairs  ["20:200 100:50 300:10"]
#   PROVIDERS  dropbox drive workdrive self              [all four]
#   RUNS       runs of each, the medians are printed     [1]
#   VANTRY_CLI the vantry-cli measured                   [build-dir/src/cli/vantry-cli]
# WorkDrive's fixed pauses before an upload's result and a link are asked for (zoho/settleMilliseconds)
# are left out: they wait the same on any link.
# Columns: "upload" is the job's upload step alone (from its status lines), "publish" the whole job
# (folders, inspection, manifest, icon, QR, links, registration: each a round trip or more);
# "ratio" = curl / upload, "job" = curl / publish; "rss" is vantry-cli's peak resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
sizes=${SIZES:-400}
links=${LINKS:-"20:200 100:50 300:10"}
providers=${PROVIDERS:-"dropbox drive workdrive self"}
runs=${RUNS:-1}
cli=${VANTRY_CLI:-$build/src/cli/vantry-cli}
tools="$build/benchmarks/storage"
for tool in "$cli" "$tools/wan-link" "$tools/provider-emulator"; do
  [ -x "$tool" ] || { echo "wan.sh: build it first: $tool" >&2; exit 2; }
done
command -v zip >/dev/null || { echo "wan.sh: needs zip" >&2; exit 2; }

source "$root/benchmarks/server/start-server.sh" # $work, $pid, $base; removes $work on exit
storage_token=$(cat "$work/data/storage-token")
server_port=${base##*:}
server_port=${server_port%/}
# The accounts the emulators link and the CLI reads: a private home without a keychain service.
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
unset DBUS_SESSION_BUS_ADDRESS
mkdir -p "$HOME"
children=()
cleanup() {
  for child in "${children[@]}"; do kill -TERM "$child" 2>/dev/null || true; done
  wait "${children[@]}" 2>/dev/null || true
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

declare -A emulator_port
for provider in $providers; do
  [ "$provider" = self ] && continue
  "$tools/provider-emulator" "$provider" "$work/store-$provider" >"$work/$provider.port" &
  children+=($!)
  for _ in $(seq 100); do [ -s "$work/$provider.port" ] && break; sleep 0.05; done
  emulator_port[$provider]=$(cat "$work/$provider.port")
done
token=emulated-access-token

. "$root/benchmarks/make-package.sh"

# Points vantry-cli at the link: the backend, and the provider behind link port $2.
cli_env() {
  local provider=$1 url="http://127.0.0.1:$2" backend="http://127.0.0.1:$3/"
  echo VANTRY_BACKEND_BASE_URL="$backend"
  case $provider in
  dropbox)
    echo VANTRY_DROPBOX_API_URL="$url" VANTRY_DROPBOX_CONTENT_URL="$url" \
      VANTRY_DROPBOX_TOKEN_URL="$url/oauth2/token" VANTRY_DROPBOX_APP_KEY=emu0app0key0001 \
      VANTRY_DROPBOX_SHARE_HOST="localhost:${emulator_port[dropbox]}" VANTRY_DROPBOX_DIRECT_HOST="127.0.0.1:$2" ;;
  drive)
    echo VANTRY_GOOGLE_DRIVE_URL="$url/drive/v3" VANTRY_GOOGLE_UPLOAD_URL="$url/upload/drive/v3" \
      VANTRY_GOOGLE_USER_INFO_URL="$url/oauth2/v3/userinfo" VANTRY_GOOGLE_TOKEN_URL="$url/token" \
      VANTRY_GOOGLE_DOWNLOAD_URL="$url/download" VANTRY_GOOGLE_CLIENT_ID=emu-client ;;
  workdrive)
    echo VANTRY_ZOHO_API_URL="$url" VANTRY_ZOHO_UPLOAD_URL="$url" VANTRY_ZOHO_ACCOUNTS_URL="$url" \
      VANTRY_ZOHO_EXTERNAL_FILES_URL="$url" VANTRY_ZOHO_CLIENT_ID=1000.EMU0CLIENT0ID0000000000000000000 \
      VANTRY_ZOHO_CLIENT_SECRET=emu-zoho-client-secret VANTRY_ZOHO_SETTLE_MILLISECONDS=0 ;;
  self)
    echo VANTRY_SELFHOSTED_URL="$backend" VANTRY_SELFHOSTED_TOKEN="$storage_token" ;;
  esac
}

# The same bytes in one request to the same server through the same link; prints the seconds.
curl_once() {
  local provider=$1 url="http://127.0.0.1:$2" ipa="$work/Bench.ipa" t0 location
  local send=(curl -fsS -o /dev/null -T "$ipa" -H "Expect:")
  case $provider in
  dropbox)
    t0=$EPOCHREALTIME
    "${send[@]}" -X POST -H "Authorization: Bearer $token" -H "Content-Type: application/octet-stream" \
      -H 'Dropbox-API-Arg: {"path":"/curl/Bench.ipa","mode":"overwrite"}' "$url/2/files/upload" ;;
  drive)
    # The session is opened first; only the PUT of the bytes is timed.
    location=$(curl -fsS -D - -o /dev/null -H "Authorization: Bearer $token" \
      -H "Content-Type: application/json; charset=UTF-8" --data '{"name":"curl.ipa"}' \
      "$url/upload/drive/v3/files?uploadType=resumable" | tr -d '\r' | sed -n 's/^[Ll]ocation: //p')
    t0=$EPOCHREALTIME
    "${send[@]}" -H "Authorization: Bearer $token" \
      -H "Content-Range: bytes 0-$(($(stat -c %s "$ipa") - 1))/$(stat -c %s "$ipa")" "$location" ;;
  workdrive)
    t0=$EPOCHREALTIME
    "${send[@]}" -X POST -H "Authorization: Zoho-oauthtoken $token" -H "x-filename: curl.ipa" \
      -H "upload-id: curl$RANDOM" -H "x-streammode: 1" "$url/upload" ;;
  self)
    t0=$EPOCHREALTIME
    "${send[@]}" -H "Authorization: Bearer $storage_token" "$url/storage/files?path=curl/Bench.ipa" ;;
  esac
  echo "$EPOCHREALTIME - $t0" | bc
}

# vantry-cli publish with its status lines time-stamped; prints "publish upload rss".
publish_once() {
  local provider=$1 option=$1 t0 status
  [ "$provider" = workdrive ] && option=zoho
  t0=$EPOCHREALTIME
  set +e
  env $(cli_env "$provider" "$2" "$3") /usr/bin/time -f "%M" -o "$work/rss" \
    "$cli" publish "$work/Bench.ipa" --provider "$option" --json --force 2>&1 >/dev/null |
    while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done >"$work/steps"
  status=${PIPESTATUS[0]}
  set -e
  [ -z "${WAN_STEPS:-}" ] || cp "$work/steps" "$WAN_STEPS.$provider"
  local total
  total=$(echo "$EPOCHREALTIME - $t0" | bc | awk '{printf "%.3f", $1}')
  if [ "$status" != 0 ]; then
    echo "wan.sh: publish to $provider failed:" >&2
    tail -5 "$work/steps" >&2
    echo "failed failed failed"
    return
  fi
  # From the upload step's title to the next title (titles are not indented; details and progress are).
  local upload
  upload=$(awk '/^[0-9.]+ Processing your / && !s {s=$1; next} s && !e && $2 !~ /^Processing/ && substr($0, index($0, " ") + 1, 2) != "  " {e=$1}
                END {if (s && e) printf "%.3f", e - s; else print "?"}' "$work/steps")
  echo "$total $upload $(awk '{printf "%.1f", $1 / 1024}' <(tail -1 "$work/rss"))"
}

# Each stored copy goes at once, and the disk settles before the next run: a write-back of the
# last copy would slow whichever upload meets it.
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

forget_uploads() {
  find "$work"/store-* "$work/data" -type f -size +2M ! -name '*.sqlite*' ! -name '*.db*' -delete 2>/dev/null || true
  sync
}

printf '%-10s %6s %14s %9s %9s %9s %7s %7s %8s\n' provider MB link publish upload curl ratio job 'peak rss'
for size in $sizes; do
  make_package "$size" "$work/Bench.ipa"
  for link in $links; do
    rtt=${link%%:*}
    rate=$(echo "${link##*:} * 1000000" | bc)
    targets=("$server_port")
    for provider in $providers; do [ "$provider" = self ] || targets+=("${emulator_port[$provider]}"); done
    rm -f "$work/link.ports"
    "$tools/wan-link" "$rtt" "$rate" "${targets[@]}" >"$work/link.ports" &
    link_pid=$!
    for _ in $(seq 100); do [ "$(cat "$work/link.ports" 2>/dev/null | wc -l)" -ge "${#targets[@]}" ] && break; sleep 0.05; done
    declare -A via=()
    while read -r target port; do via[$target]=$port; done <"$work/link.ports"
    for provider in $providers; do
      target=$server_port
      [ "$provider" = self ] || target=${emulator_port[$provider]}
      totals=() uploads=() references=() rss=
      for _ in $(seq "$runs"); do
        read -r total upload rss < <(publish_once "$provider" "${via[$target]}" "${via[$server_port]}")
        forget_uploads
        totals+=("$total") uploads+=("$upload") references+=("$(curl_once "$provider" "${via[$target]}")")
        forget_uploads
      done
      total=$(median "${totals[@]}") upload=$(median "${uploads[@]}") reference=$(median "${references[@]}")
      ratio=$(echo "$upload" | awk -v c="$reference" '$1 + 0 > 0 {printf "%.3f", c / $1; exit} {print "?"}')
      job=$(echo "$total" | awk -v c="$reference" '$1 + 0 > 0 {printf "%.3f", c / $1; exit} {print "?"}')
      printf '%-10s %6s %14s %9s %9s %9.3f %7s %7s %6s MB\n' "$provider" "$size" "${rtt}ms ${link##*:}MB/s" \
        "$total" "$upload" "$reference" "$ratio" "$job" "$rss"
    done
    kill -TERM "$link_pid"
    wait "$link_pid" 2>/dev/null || true
  done
done
