#!/bin/bash
# Stamped downloads through nginx, timed with wrk on the host, in a network
# namespace of its own (127.0.0.1):
#   distinct: every request a new link, stamped by maker serve, through the
#             cache (every one a miss)
#   cached:   one link again and again, answered from nginx's cache
#   uncached: every request a new link, nginx without its cache
#   static:   a plain file of the stamped copy's size, for comparison
# and whole-process "maker stamp SIGNED -o -" runs per second. The tool is
# the release build (build/maker-release); the input the signed shipped
# Setup.exe (build/win32).
#   tools/bench/download-bench.sh [seconds, default 10] [connections, default 16] [responders, default 4]
set -eu
seconds=${1:-10} connections=${2:-16} responders=${3:-4}
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
[ -f build/win32/Setup.exe ] || { echo "build/win32/Setup.exe is missing: run bash scripts/build.sh first" >&2; exit 1; }
release=$root/build/maker-release
work=$root/build/download-bench
mkdir -p "$work"
cmake -S . -B "$release" -G Ninja -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$release" --target maker >/dev/null
maker=$release/tools/maker/maker
bash tests/support/make-certs.sh "$work/certs"
bash "$work/certs/sign-file.sh" signer build/win32/Setup.exe "$work/Signed.exe"
echo "input: $(stat -c %s "$work/Signed.exe") bytes, signed; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

start=$(date +%s.%N)
for _ in $(seq 200); do "$maker" stamp "$work/Signed.exe" -o - "Partner=acme&Campaign=winter" >/dev/null 2>&1; done
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "maker stamp, one process each: %.0f per second\n", 200 / (e - s) }'

# Every request its own link: the thread's number and a counter.
cat >"$work/distinct.lua" <<'EOF'
local threads = 0
function setup(thread) threads = threads + 1; thread:set("id", threads) end
local n = 0
function request()
  n = n + 1
  return wrk.format("GET", "/download/Setup.exe?Partner=t" .. id .. "n" .. n .. "&Campaign=bench")
end
EOF

unshare --net bash -c '
  set -eu
  work=$0 maker=$1 seconds=$2 connections=$3 responders=$4
  ip link set lo up
  trap "bash tests/support/download-site.sh stop $work/site" EXIT
  KEEPALIVE=on RESPONDERS=$responders WORKERS=2 bash tests/support/download-site.sh start "$work/site" 127.0.0.1 "$maker" "$work/Signed.exe"
  curl -s -o "$work/site/nginx/site/static.exe" "http://127.0.0.1/download/Setup.exe?Partner=static&Campaign=bench"
  echo "stamped copy: $(stat -c %s "$work/site/nginx/site/static.exe") bytes; $responders responders, nginx with 2 workers"
  run() {  # run NAME WRK-ARGUMENTS...
    wrk -t2 -c"$connections" -d"${seconds}s" --latency "${@:2}" >"$work/$1.txt" 2>&1
    awk -v name="$1" "
      /Requests\/sec/ { rate = \$2 }
      /^ +50%/ { median = \$2 } /^ +99%/ { p99 = \$2 }
      /Non-2xx|Socket errors/ { errors = errors \" \" \$0 }
      END { printf \"%-9s %8.0f per second, median %s, 99th percentile %s%s\n\", name, rate, median, p99, errors }
    " "$work/$1.txt"
  }
  run distinct -s "$work/distinct.lua" http://127.0.0.1
  # In the cache first: a first burst waits on the cache lock (nginx looks again every 500 ms).
  for _ in 1 2; do curl -s -o /dev/null "http://127.0.0.1/download/Setup.exe?Partner=acme&Campaign=winter"; done
  run cached "http://127.0.0.1/download/Setup.exe?Partner=acme&Campaign=winter"
  run static http://127.0.0.1/static.exe
  bash tests/support/download-site.sh stop "$work/site"
  CACHE=off KEEPALIVE=on RESPONDERS=$responders WORKERS=2 bash tests/support/download-site.sh start "$work/site" 127.0.0.1 "$maker" "$work/Signed.exe"
  run uncached -s "$work/distinct.lua" http://127.0.0.1
  echo "load average after: $(cut -d" " -f1-3 /proc/loadavg)"
' "$work" "$maker" "$seconds" "$connections" "$responders"
