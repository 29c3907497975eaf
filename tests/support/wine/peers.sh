#!/usr/bin/env bash
# The real peers of the Windows unit tests, started on the host once for a whole test run (a
# ctest fixture), since a test under Wine can't start host programs:
#   peers.sh start DIR   nginx serving the host's file system from / (a test's folder is served
#                        under its own path) and tinyproxy asking for kvuser/s3cret, both on
#                        free loopback ports; "nginx PORT" and "tinyproxy PORT" lines in DIR/ports
#   peers.sh stop DIR    ends both
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: peers.sh start|stop DIR" >&2; exit 2; }
action=$1 dir=$2

stop() {
    local p
    for p in $(cat "$dir/pids" 2>/dev/null); do kill "$p" 2>/dev/null || true; done
    rm -f "$dir/pids" "$dir/ports"
}

# Starts "$@" (which listens on $port) in the background, its output in $dir/$name.log; true
# once the port answers, false when it ended or never answered.
started() {
    local name=$1
    shift
    "$@" </dev/null >"$dir/$name.log" 2>&1 &
    local pid=$!
    for _ in $(seq 200); do
        if ! kill -0 "$pid" 2>/dev/null; then return 1; fi
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$pid" >>"$dir/pids"
            return 0
        fi
        sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    return 1
}

case $action in
start)
    stop
    mkdir -p "$dir/nginx/logs" "$dir/nginx/temp"
    : >"$dir/ports"
    # A port taken between the pick and the bind is tried again with another.
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 12000))
        n=$dir/nginx
        cat >"$n/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1;
error_log $n/logs/error.log; pid $n/nginx.pid;
events { worker_connections 512; }
http {
  access_log off; sendfile on; default_type application/octet-stream;
  client_body_temp_path $n/temp/body; proxy_temp_path $n/temp/proxy;
  fastcgi_temp_path $n/temp/fastcgi; uwsgi_temp_path $n/temp/uwsgi; scgi_temp_path $n/temp/scgi;
  server { listen 127.0.0.1:$port; root /; }
}
CONF
        if started nginx nginx -p "$n" -e "$n/logs/error.log" -c "$n/nginx.conf"; then
            echo "nginx $port" >>"$dir/ports"
            break
        fi
    done
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 12000))
        printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\nLogLevel Error\nAllow 127.0.0.1\nBasicAuth kvuser s3cret\n' \
            "$port" >"$dir/tinyproxy.conf"
        if started tinyproxy tinyproxy -d -c "$dir/tinyproxy.conf"; then
            echo "tinyproxy $port" >>"$dir/ports"
            break
        fi
    done
    [ "$(wc -l <"$dir/ports")" -eq 2 ] || { cat "$dir"/*.log >&2; echo "peers.sh: the peers did not start" >&2; stop; exit 1; }
    ;;
stop) stop ;;
*) echo "peers.sh: start or stop, not $action" >&2; exit 2 ;;
esac
