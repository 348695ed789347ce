#!/bin/bash
# Starts or stops the TLS bench of one build folder: a fresh test authority
# per run, trusted in the Wine prefix's root store (the previous run's taken
# out), and the TLS fronts of tls_relay.py on this bench's loopback addresses.
# The Wine bench (wine-bench.sh) must be running.
#   tls-bench.sh start <build> <group>...
#   tls-bench.sh stop <build>
# Fronts: 127.<octet>.<group>.<kind>:443 for kinds 1 to 6 (see tls_relay.py),
# relaying to port 80 of 127.<octet>.<group>.<kind + 100>.
set -u
cmd=$1; build=$2; shift 2
here=$(cd "$(dirname "$0")" && pwd)
state=$build/tls-bench
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
WINE=${SETUP_WINE:-/usr/lib/wine/wine64}
# The same octet as wine-run.sh gives the tests.
octet=${SETUP_TEST_OCTET:-$(( ($(cksum <<<"$build" | cut -d' ' -f1) % 200) + 20 ))}
root_key='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates'

stop() {
  if [ -f "$state/relay.pid" ]; then
    kill "$(cat "$state/relay.pid")" 2>/dev/null
    rm -f "$state/relay.pid"
  fi
}

case $cmd in
start)
  stop
  mkdir -p "$state"
  if [ -f "$state/trusted.sha1" ]; then
    "$WINE" reg delete "$root_key\\$(cat "$state/trusted.sha1")" /f >"$state/untrust.log" 2>&1
  fi
  hosts=""
  for g in "$@"; do for k in 1 2 3 4 5 6; do hosts="$hosts 127.$octet.$g.$k"; done; done
  # shellcheck disable=SC2086
  bash "$here/make-tls-certs.sh" "$state/certs" $hosts >"$state/certs.log" 2>&1 || { cat "$state/certs.log"; exit 1; }
  bash "$here/trust-root.sh" "$WINEPREFIX" "$state/certs/ca.der" >"$state/trust.log" 2>&1 ||
    { cat "$state/trust.log"; exit 1; }
  sha1sum "$state/certs/ca.der" | cut -c1-40 | tr a-f A-F >"$state/trusted.sha1"
  : >"$state/relay.log"
  python3 "$here/tls_relay.py" "$state/certs" "$state/relay.log" "$octet" "$@" </dev/null >>"$state/relay.log" 2>&1 &
  echo $! >"$state/relay.pid"
  for _ in $(seq 100); do grep -q listening "$state/relay.log" && break; sleep 0.05; done
  grep -q listening "$state/relay.log" || { cat "$state/relay.log"; stop; exit 1; }
  echo "tls bench ready: fronts 127.$octet.{$*}.1-6:443, authority $(cat "$state/trusted.sha1")"
  ;;
stop)
  stop
  echo "tls bench stopped"
  ;;
*) echo "usage: $0 start <build> <group>... | stop <build>" >&2; exit 2 ;;
esac
