#!/usr/bin/env bash
# The main job, end to end on this machine: set up, build, publish a sample product into an
# update site, serve the site with nginx on a loopback port, update a product folder from it
# with KVUpdater.exe and print the run's log. Run it again and the same product folder is
# up to date: every file shows "Ok - ".
#
#   DEMO_DIR   where the sample, the site and the product folder live
#              (default: ${TMPDIR:-/tmp}/kvupdater-demo; kept between runs)
#   BUILD_DIR  build here instead of the "default" preset's folder
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

if [[ -n "${BUILD_DIR:-}" ]]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  build=$BUILD_DIR
else
  cmake --preset default >/dev/null
  build=$root/build/default
fi
cmake --build "$build" --target KVUpdater.exe kvpublish -j"$(nproc)" >/dev/null
updater=$build/app/KVUpdater.exe
publish=$build/tools/kvpublish

demo=${DEMO_DIR:-${TMPDIR:-/tmp}/kvupdater-demo}
sample=$demo/sample
site=$demo/site
product=$demo/product
mkdir -p "$demo"

# The sample product: the same bytes on every run, so a second run finds nothing to do.
rm -rf "$sample"
mkdir -p "$sample"
printf 'Kestavorin sample product, release 2\r\n' >"$sample/readme.txt"
printf 'placeholder program of the sample product\n' >"$sample/Kestavorin.exe"
awk 'BEGIN { for (i = 0; i < 40000; i++) printf "signature %08d %08x\n", i, i * 2654435761 % 4294967296 }' \
  >"$sample/signatures.dat"
awk 'BEGIN { for (i = 0; i < 3000; i++) printf "rule %d\n", i }' >"$sample/rules.txt"
printf 'settings=1\r\n' >"$sample/defaults.cfg"

# The site: with no edition in language.dat the updater asks for the "components/" folder.
"$publish" --quiet "$sample" "$site/components"

# nginx on a free loopback port, with a configuration of its own, in the background.
port=
for _ in $(seq 1 50); do
  p=$((20000 + RANDOM % 40000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
done
[[ -n "$port" ]] || { echo "demo: no free port found" >&2; exit 1; }
web=$demo/nginx
mkdir -p "$web/logs" "$web/temp"
cat >"$web/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $web/logs/error.log;
pid $web/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $web/temp/body;
  proxy_temp_path $web/temp/proxy;
  fastcgi_temp_path $web/temp/fastcgi;
  uwsgi_temp_path $web/temp/uwsgi;
  scgi_temp_path $web/temp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $site;
  }
}
EOF
nginx -p "$web" -e "$web/logs/error.log" -c "$web/nginx.conf" &
nginx_pid=$!
trap 'kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

# The product folder: the updater, "language.dat" beside it (so this folder is the product
# folder) and KVUpdater.ini pointing at the site. The first time it also holds an older
# readme.txt and a current rules.txt, so the first run shows new, changed and unchanged files.
if [[ ! -d "$product" ]]; then
  mkdir -p "$product"
  printf 'Kestavorin sample product, release 1\r\n' >"$product/readme.txt"
  cp "$sample/rules.txt" "$product/rules.txt"
fi
cp "$updater" "$product/KVUpdater.exe"
: >"$product/language.dat"
printf '[General]\r\nUpdateFromUrl=http://127.0.0.1:%s/\r\nAutoExit=1\r\n' "$port" \
  >"$product/KVUpdater.ini"

echo "demo: updating $product from http://127.0.0.1:$port/components/"
status=0
(cd "$product" && ./KVUpdater.exe >/dev/null) || status=$?
echo "demo: the run's log, $product/logs/KVUpdater.log:"
tr -d '\r' <"$product/logs/KVUpdater.log"
echo "demo: exit status $status"
exit "$status"
