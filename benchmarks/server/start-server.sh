# Sourced by the benchmark scripts: starts vantry-server from $build on a free loopback port with
# a fresh data folder in $work (and the options in $SERVER_ARGS), stops it and removes $work on exit, and sets $pid and $base.
server="$build/src/server/vantry-server"
[ -x "$server" ] || { echo "$(basename "$0"): build vantry-server first ($server)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vantry-bench-XXXXXX")
# shellcheck disable=SC2086 # SERVER_ARGS: extra options, split on spaces
"$server" --data-dir "$work/data" --listen 127.0.0.1:0 ${SERVER_ARGS:-} >"$work/server.log" 2>&1 &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q "listening on" "$work/server.log" && break
  sleep 0.05
done
base=$(sed -n 's/.*listening on \(http:\/\/[^ ]*\/\).*/\1/p' "$work/server.log" | head -1)
[ -n "$base" ] || { cat "$work/server.log" >&2; exit 1; }
