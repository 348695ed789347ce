#!/bin/bash
# The demo's download service on a loopback address of its own, for the
# handler's test and its benchmark: nginx with demo/nginx.conf (moved to the
# address) and demo/download/handler.sh under fcgiwrap, run as nobody.
#   download-site.sh start WORK ADDRESS MAKER SIGNED_SETUP
#   download-site.sh stop WORK
# WORK holds the prefix (nginx/), the logs and the PIDs; both are stopped by
# their PIDs.
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
  # fcgiwrap leads a process group of its own: its workers go with it.
  if [ -f "$work/fcgiwrap.pid" ]; then
    kill -- "-$(cat "$work/fcgiwrap.pid")" 2>/dev/null
    rm -f "$work/fcgiwrap.pid"
  fi
}

if [ "$action" = stop ]; then stop; exit 0; fi
address=$3 maker=$4 setup=$5
stop
rm -rf "$prefix"
mkdir -p "$prefix/logs" "$prefix/tmp" "$prefix/site" "$prefix/download"
cp "$repo/demo/download/handler.sh" "$maker" "$prefix/download/"
cp "$setup" "$prefix/download/Setup.exe"
chmod -R a+rX "$prefix/site" "$prefix/download"
chmod a+x "$prefix"
sed -e "s/127\.0\.0\.1/$address/g" -e "s|@prefix@|$prefix|g" "$repo/demo/nginx.conf" >"$work/nginx.conf"
# The handler's user: nobody, as nginx's worker; the socket's folder is theirs alone.
install -d -m 700 -o nobody -g nogroup "$prefix/run"
setsid setpriv --reuid=nobody --regid=nogroup --clear-groups fcgiwrap -c 2 -s "unix:$prefix/run/fcgi.sock" \
  >"$work/fcgiwrap.log" 2>&1 &
echo $! >"$work/fcgiwrap.pid"
nginx -p "$prefix/" -c "$work/nginx.conf" -e logs/error.log >"$work/nginx-start.log" 2>&1 ||
  { cat "$work/nginx-start.log"; stop; exit 1; }
for _ in $(seq 50); do
  [ -S "$prefix/run/fcgi.sock" ] && exit 0
  sleep 0.1
done
echo "fcgiwrap did not start:" >&2
cat "$work/fcgiwrap.log" >&2
stop
exit 1
