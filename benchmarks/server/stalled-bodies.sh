#!/usr/bin/env bash
# The server's memory while many clients each send all but the last byte of a 1 MiB request body
# and then stall: its peak, and what it still holds a few seconds after they close.
# Usage: benchmarks/server/stalled-bodies.sh [build-dir] [connections] [path]
# path: the route the bodies go to (default /reportcrash, which anyone may call). Needs python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
count=${2:-4000}
path=${3:-/reportcrash}

ulimit -n $((count + 1024))
SERVER_ARGS="--max-connections $((count + 100))"
. "$here/start-server.sh"
port=${base##*:}
port=${port%/}
rss() { awk -v k="$1" '$1 == k":" { print int($2 / 1024) " MiB" }' "/proc/$pid/status"; }
echo "== $count connections, each sends all but one byte of a 1 MiB body to $path and stalls"
echo "server before: $(rss VmRSS)"
python3 - "$port" "$count" "$path" "$pid" <<'PY'
import socket, sys, time
port, count, path, pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
size = 1 << 20
head = (f"POST {path} HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        f"Content-Length: {size}\r\n\r\n").encode()
body = b"x" * (size - 1)
socks, refused = [], 0
for i in range(count):
    # 100 connections per loopback address, below the per-address limit
    s = socket.socket()
    s.bind((f"127.0.{1 + i // 100 // 250}.{1 + (i // 100) % 250}", 0))
    s.connect(("127.0.0.1", port))
    s.settimeout(2)
    try:
        s.sendall(head + body)
    except OSError:
        refused += 1
    socks.append(s)
time.sleep(3)
def rss(key):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith(key + ":"):
            return f"{int(line.split()[1]) // 1024} MiB"
print(f"server while stalled: peak {rss('VmHWM')}, now {rss('VmRSS')} "
      f"({refused} clients could not send their body)")
for s in socks:
    s.close()
time.sleep(5)
print(f"server 5 s after they closed: {rss('VmRSS')}")
PY
