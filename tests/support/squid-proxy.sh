#!/bin/bash
# A forward proxy for the tests: squid asking for Basic credentials, listening
# on one loopback address and reaching servers from another, in a state
# folder of its own under /tmp (squid's user must write there).
#   squid-proxy.sh start LISTEN_ADDRESS OUTGOING_ADDRESS USER PASSWORD
#     prints the state folder once the proxy answers on LISTEN_ADDRESS:3128
#   squid-proxy.sh stop STATE_FOLDER
set -u
case ${1:-} in
start)
  listen=$2 outgoing=$3 user=$4 password=$5
  state=$(mktemp -d /tmp/setup-squid.XXXXXX)
  echo "$user:$(openssl passwd -apr1 "$password")" >"$state/passwd"
  cat >"$state/squid.conf" <<CONF
http_port $listen:3128
tcp_outgoing_address $outgoing
pid_filename $state/squid.pid
cache_log $state/cache.log
access_log stdio:$state/access.log
coredump_dir $state
cache deny all
dns_nameservers 127.0.0.1
visible_hostname proxy.test
shutdown_lifetime 0 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth $state/passwd
auth_param basic realm setup tests
auth_param basic children 2
acl users proxy_auth REQUIRED
http_access allow users
http_access deny all
CONF
  chown -R proxy:proxy "$state" 2>/dev/null
  /usr/sbin/squid -f "$state/squid.conf" >"$state/start.log" 2>&1 || { cat "$state/start.log" "$state/cache.log" >&2; exit 1; }
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$listen/3128") 2>/dev/null; then echo "$state"; exit 0; fi
    sleep 0.1
  done
  cat "$state/cache.log" >&2
  exit 1
  ;;
stop)
  state=$2
  case $state in /tmp/setup-squid.*) ;; *) echo "not a proxy state folder: $state" >&2; exit 2 ;; esac
  if [ -f "$state/squid.pid" ]; then
    pid=$(cat "$state/squid.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -rf "$state"
  ;;
*) echo "usage: $0 start LISTEN OUTGOING USER PASSWORD | stop STATE" >&2; exit 2 ;;
esac
