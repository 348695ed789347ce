#!/bin/bash
# The native maker's tool and the download handler, timed on the host:
#   stamps:  whole-process "maker stamp SIGNED -o - ..." runs per second on the
#            signed shipped Setup.exe (build/win32, about 64 KiB)
#   handler: ab against /download/Setup.exe behind nginx and fcgiwrap:
#            requests per second, median and 99th percentile latency
# The tool is built without the sanitizers in build/maker; the site serves on
# 127.0.0.1 in a network namespace of its own.
#   tools/bench/download-bench.sh [stamps, default 500] [requests, default 2000] [concurrency, default 4]
set -eu
stamps=${1:-500} requests=${2:-2000} concurrency=${3:-4}
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
[ -f build/win32/Setup.exe ] || { echo "build/win32/Setup.exe is missing: run bash scripts/build.sh first" >&2; exit 1; }
work=$root/build/maker
cmake -S . -B "$work" -G Ninja -DSETUP_TESTS=OFF >"$work-configure.log" 2>&1 || { cat "$work-configure.log"; exit 1; }
cmake --build "$work" --target maker >/dev/null
maker=$work/tools/maker/maker
bash tests/support/make-certs.sh "$work/certs"
bash "$work/certs/sign-file.sh" signer build/win32/Setup.exe "$work/Signed.exe"
echo "input: $(stat -c %s "$work/Signed.exe") bytes, signed"

start=$(date +%s.%N)
for _ in $(seq "$stamps"); do "$maker" stamp "$work/Signed.exe" -o - "Partner=acme&Campaign=winter" >/dev/null 2>&1; done
end=$(date +%s.%N)
awk -v n="$stamps" -v s="$start" -v e="$end" 'BEGIN { printf "stamps: %d in %.2f s: %.0f per second\n", n, e - s, n / (e - s) }'

unshare --net bash -c '
  set -eu
  ip link set lo up
  trap "bash tests/support/download-site.sh stop $0/bench-site" EXIT
  bash tests/support/download-site.sh start "$0/bench-site" 127.0.0.1 "$1" "$0/Signed.exe"
  ab -n "$2" -c "$3" "http://127.0.0.1/download/Setup.exe?Partner=acme&Campaign=winter" >"$0/ab.txt" 2>&1
  grep -E "^(Complete requests|Failed|Non-2xx|Requests per second|Time per request)" "$0/ab.txt" || true
  grep -E "^ +(50|99)%" "$0/ab.txt" | sed "s/^/latency /"
' "$work" "$maker" "$requests" "$concurrency"
