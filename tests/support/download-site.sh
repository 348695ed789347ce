#!/bin/bash
# The demo's download service on a loopback address of its own, for its test
# and its benchmark: nginx with demo/nginx.conf (moved to the address) and
# maker serve under spawn-fcgi, both as nobody.
#   download-site.sh start WORK ADDRESS MAKER SIGNED_SETUP
#   download-site.sh stop WORK
# RESPONDERS (default 2) service processes, WORKERS (default 1) nginx workers,
# CACHE=off nginx without its cache.
# WORK holds the prefix (nginx/), the logs and the PIDs (service.pid: one
# line per responder); both are stopped by their PIDs. The signed file is
# served from nginx/download/Setup.exe: replace it there and send the
# responders SIGHUP for a new base.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
action=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
prefix=$work/nginx

stop() {
  if [ -f "$prefix/logs/nginx.pid" ]; then
    pid=$(cat "$prefix/logs/nginx.pid")
    kill -QUIT "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  if [ -f "$work/service.pid" ]; then
    for pid in $(cat "$work/service.pid"); do kill "$pid" 2>/dev/null; done
    rm -f "$work/service.pid"
  fi
}

if [ "$action" = stop ]; then stop; exit 0; fi
address=$3 maker=$4 setup=$5
stop
rm -rf "$prefix"
mkdir -p "$prefix/logs" "$prefix/tmp" "$prefix/site" "$prefix/download" "$prefix/run"
cp "$setup" "$prefix/download/Setup.exe"
chmod -R a+rX "$prefix/site" "$prefix/download"
chmod a+x "$prefix" "$work"
nocache="" keepalive=""
[ "${CACHE:-on}" = off ] && nocache=/fastcgi_cache/d
# A deployment keeps clients' connections open; the demo closes each.
[ "${KEEPALIVE:-off}" = on ] && keepalive="s/keepalive_timeout 0;/keepalive_timeout 65;/"
sed -e "s/127\.0\.0\.1/$address/g" -e "s|@prefix@|$prefix|g" -e "$nocache" -e "$keepalive" \
  -e "s/^worker_processes 1;/worker_processes ${WORKERS:-1};/" -e "s/worker_connections 64;/worker_connections 1024;/" \
  "$repo/demo/nginx.conf" >"$work/nginx.conf"
# The service's log: spawn-fcgi sends its standard error to /dev/null.
install -m 644 -o nobody -g nogroup /dev/null "$work/service.log"
spawn-fcgi -s "$prefix/run/download.sock" -M 0600 -U nobody -G nogroup -u nobody -g nogroup \
  -F "${RESPONDERS:-2}" -P "$work/service.pid" -- "$maker" serve "$prefix/download/Setup.exe" \
  --log "$work/service.log" >"$work/spawn-fcgi.log" 2>&1 ||
  { cat "$work/spawn-fcgi.log" "$work/service.log"; stop; exit 1; }
nginx -p "$prefix/" -c "$work/nginx.conf" -e logs/error.log >"$work/nginx-start.log" 2>&1 ||
  { cat "$work/nginx-start.log"; stop; exit 1; }
for _ in $(seq 200); do  # the sanitizer build starts slowly on a busy machine
  [ "$(grep -c ready "$work/service.log")" = "${RESPONDERS:-2}" ] && exit 0
  sleep 0.1
done
echo "the download service did not start:" >&2
cat "$work/spawn-fcgi.log" "$work/service.log" >&2
stop
exit 1
