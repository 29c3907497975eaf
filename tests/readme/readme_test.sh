#!/usr/bin/env bash
# Runs the commands of one section of README.md ("Install" or "Usage") as a reader would run
# them, so that the README can't go stale. Whatever would change this machine goes to a
# scratch root instead: paths under /opt/kestavorin, /srv and /etc/nginx are taken into it,
# "sudo" runs the command as it is, "apt-get install" checks that the packages can be
# installed here and unpacks them into the root, "cmake --install" installs into it,
# "systemctl" and "journalctl" work on it, "nginx" and the README's sites run on loopback
# ports (its HTTPS site under the name localhost), and the README's proxy is a tinyproxy with
# the README's credentials.
#
#   readme_test.sh SECTION SOURCE_DIR BUILD_DIR
set -euo pipefail
section=$1 source=$2 build=$3
base=$build/readme
root=$base/root # the scratch root; "Install" fills it, "Usage" uses what it holds
work=$base/work # the reader's folder for "Usage"
server=$base/servers

fail() { echo "readme_test: $*" >&2; exit 1; }

# The bash blocks of one "## " section, subsections included.
blocks() {
  awk -v want="## $1" '
    /^## / { inside = ($0 == want) }
    inside && /^```bash$/ { code = 1; next }
    inside && code && /^```$/ { code = 0; next }
    inside && code { print }' "$source/README.md"
}

# A port below the kernel's ephemeral range: the other tests' servers (port 0) and every
# client connection of the suite take theirs from that range, and one of them taking ours
# between this probe and the server's bind failed the run now and then.
free_port() {
  local p low
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range
  for _ in $(seq 1 100); do
    p=$((10000 + RANDOM % (low - 10000)))
    [[ $p != "${taken:-}" ]] || continue
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
  done
  fail "no free port"
}

wait_port() {
  for _ in $(seq 1 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return
    sleep 0.05
  done
  fail "nothing listens on port $1"
}

script=$base/$section.sh
mkdir -p "$base"
web_port=$(free_port)
proxy_port=$(taken=$web_port free_port)
tls_port=$(taken=$proxy_port free_port)
{
  echo 'set -euo pipefail'
  echo "root='$root' server='$server' web_port=$web_port"
  # The stand-ins, each running the real command on the scratch root.
  cat <<'FUNCTIONS'
sudo() { "$@"; }
apt-get() {
  [[ $1 == install ]] || { command apt-get "$@"; return; }
  shift
  command apt-get install --simulate "$@" >/dev/null
  local deb
  for deb in "$@"; do dpkg-deb -x "$deb" "$root"; done
}
cmake() {
  if [[ ${1:-} == --install ]]; then DESTDIR=$root/cmake-install command cmake "$@"; else command cmake "$@"; fi
}
nginx() { command nginx -p "$server/nginx" -c "$server/nginx/nginx.conf" -e "$server/nginx/error.log" "$@"; }
journalctl() { command journalctl --root="$root" --no-pager "$@"; }
# A unit's service run as systemd runs it: in its working folder, with nothing in the
# environment but a path, no display; the exit status as the journal shows it.
run_service() {
  local unit=$root/usr/lib/systemd/system/$1 dir exec status=0
  dir=$(sed -n 's/^WorkingDirectory=//p' "$unit")
  read -ra exec <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
  (cd "$root$dir" && env -i PATH=/usr/bin:/bin "$root${exec[0]}" "${exec[@]:1}" </dev/null) || status=$?
  echo "$1: exit status $status"
  return "$status"
}
systemctl() {
  case "$*" in
    "reload nginx")
      # "nginx -t" leaves an empty pid file.
      if [[ -s $server/nginx/nginx.pid ]]; then kill -HUP "$(cat "$server/nginx/nginx.pid")"
      else nginx; fi ;;
    "enable --now "*.timer)
      command systemctl --root="$root" enable "${3}"
      run_service "${3%.timer}.service" ;;
    "start "*.service) run_service "$2" ;;
    *) command systemctl --root="$root" "$@" ;;
  esac
}
FUNCTIONS
  blocks "$section" | sed \
    -e "s#/opt/kestavorin#$root/opt/kestavorin#g" \
    -e "s#/srv/#$root/srv/#g" \
    -e "s#/etc/nginx#$root/etc/nginx#g" \
    -e "s#listen 80;#listen 127.0.0.1:$web_port;#" \
    -e "s#listen 443 ssl;#listen 127.0.0.1:$tls_port ssl;#" \
    -e "s#http://updates.example.com#http://127.0.0.1:$web_port#g" \
    -e "s#https://updates.example.com/#https://updates.example.com:$tls_port/#g" \
    -e "s#updates\.example\.com#localhost#g" \
    -e "s#proxy.example.com:3128#127.0.0.1:$proxy_port#g"
} >"$script"
grep -q . <(blocks "$section") || fail "README.md has no commands in section $section"

case $section in
Install)
  rm -rf "$root"
  mkdir -p "$root"
  (cd "$source" && bash -x "$script")
  for f in opt/kestavorin/KVUpdater.exe usr/bin/kvpublish cmake-install/opt/kestavorin/KVUpdater.exe \
    cmake-install/usr/local/bin/kvpublish usr/lib/systemd/system/kvupdater.timer; do
    [[ -x $root/$f || -f $root/$f ]] || fail "$f was not installed"
  done
  ;;
Usage)
  [[ -x $root/opt/kestavorin/KVUpdater.exe ]] || fail "run the Install section first"
  # The product folder as the package leaves it; the rest of the root afresh.
  find "$root/opt/kestavorin" -mindepth 1 ! -name KVUpdater.exe -delete
  rm -rf "$root/srv" "$root/etc" "$work" "$server"
  mkdir -p "$root/etc/nginx/sites-available" "$root/etc/nginx/sites-enabled" "$work" \
    "$server/nginx/temp" "$server/tinyproxy"
  # The publisher's release folder: a program, a file in a folder, a blank in a name.
  mkdir -p "$work/release/data"
  printf 'program\n' >"$work/release/Kestavorin.exe"
  printf 'rule 1\r\n' >"$work/release/data/rules.txt"
  printf 'read me\r\n' >"$work/release/read me.txt"
  cat >"$server/nginx/nginx.conf" <<EOF
daemon on;
worker_processes 1;
pid $server/nginx/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $server/nginx/temp/body;
  proxy_temp_path $server/nginx/temp/proxy;
  fastcgi_temp_path $server/nginx/temp/fastcgi;
  uwsgi_temp_path $server/nginx/temp/uwsgi;
  scgi_temp_path $server/nginx/temp/scgi;
  include $root/etc/nginx/sites-enabled/*;
}
EOF
  printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nLogLevel Connect\nAllow 127.0.0.1\nBasicAuth updates s3cret\nLogFile "%s"\n' \
    "$proxy_port" "$server/tinyproxy/log" >"$server/tinyproxy/conf"
  tinyproxy -d -c "$server/tinyproxy/conf" >/dev/null 2>&1 &
  proxy_pid=$!
  trap '[[ -s $server/nginx/nginx.pid ]] && kill "$(cat "$server/nginx/nginx.pid")"; kill $proxy_pid' EXIT
  wait_port "$proxy_port"
  kill -0 $proxy_pid 2>/dev/null || fail "tinyproxy did not start on port $proxy_port"
  (cd "$work" && PATH=$root/usr/bin:$PATH bash -x "$script")

  product=$root/opt/kestavorin
  for f in Kestavorin.exe data/rules.txt "read me.txt"; do
    cmp "$work/release/$f" "$product/$f" || fail "$f did not reach the product folder"
  done
  grep -q '^HTTPPasswdx=' "$product/KVUpdater.ini" || fail "the password was not scrambled"
  ! grep -q '^HTTPPasswd=' "$product/KVUpdater.ini" || fail "the plain password is still there"
  grep -q 'Using proxy with username' "$product/logs/KVUpdater.log" || fail "the proxy was not used"
  grep -qi 'connect' "$server/tinyproxy/log" || fail "nothing went through the proxy"
  # The HTTPS site, reached through the proxy's tunnel, is the one the later runs use.
  grep -q "CONNECT localhost:$tls_port " "$server/tinyproxy/log" || fail "no tunnel to the HTTPS site"
  grep -q "Updating from https://localhost:$tls_port/components/" "$product/logs/KVUpdater.log" ||
    fail "the last run did not use the HTTPS site"
  [[ -f $root/srv/kestavorin/clone/versions.txt ]] || fail "the site was not cloned"
  [[ -L $root/etc/systemd/system/timers.target.wants/kvupdater.timer ]] || fail "the timer is not enabled"
  ;;
*) fail "unknown section $section" ;;
esac
echo "readme_test: the $section section's commands ran"
