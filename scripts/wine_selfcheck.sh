#!/usr/bin/env bash
# Proves on this machine the ground the Windows build's tests will stand on; run by hand, as
# root, after scripts/setup.sh (neither setup nor CI runs it):
#   scripts/wine_selfcheck.sh [BUILD]        BUILD defaults to build/wine-selfcheck here
# It builds tests/support/wine with both toolchain files in cmake/, runs that project's ctest
# (emulator and wineserver fixture), then checks what the program did under the chroot's
# 32-bit Wine and the host's wine64, never its exit code alone: console output and exit codes,
# wsock32.dll against nginx on loopback, cabinet.dll on a gcab cabinet, a window under Xvfb
# (screenshot in BUILD/window.png), and that scratch folders in /tmp, with a tmpfs mounted
# after the chroot's binds, are the same on both sides. Prints start-up times.
set -euo pipefail
tree=$(cd "$(dirname "$0")/.." && pwd -P)
build=${1:-$tree/build/wine-selfcheck}
mkdir -p "$build"
build=$(realpath "$build")
scratch=$(mktemp -d /tmp/kvwine.XXXXXX)
passed=0 failed=0
nginx_pid='' xvfb_pid='' window_pid=''

cleanup() {
    for p in $window_pid $nginx_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
    for w in 32 64; do "$tree/scripts/wine_server.sh" stop $w "$build/$w/wine-prefix" || true; done
    mountpoint -q "$scratch/mnt" && umount "$scratch/mnt"
    rm -rf "$scratch"
}
trap cleanup EXIT

check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok      $what"
    else
        failed=$((failed + 1))
        echo "FAILED  $what"
        echo "        exit code $rc; standard error: $(head -c 400 "$scratch/err" 2>/dev/null)"
    fi
}

# run WIDTH ARGS...: the launcher with the build folder's prefix; leaves rc, out and err.
rc=0
run() {
    local w=$1
    shift
    rc=0
    "$tree/scripts/wine$w.sh" -p "$build/$w/wine-prefix" "$@" >"$scratch/out" 2>"$scratch/err" || rc=$?
}
is_rc() { [ "$rc" -eq "$1" ]; }
out_is() { cmp -s "$scratch/out" <(printf '%s' "$1"); }
err_has() { grep -q "$1" "$scratch/err"; }
system_imports_only() {
    local dlls
    dlls=$("$1-w64-mingw32-objdump" -p "$2" | grep 'DLL Name') && [ -n "$dlls" ] &&
        ! grep -viE 'kernel32|msvcrt|user32' <<<"$dlls"
}
# The program's own bytes: its C runtime writes text lines with CR LF.
said_hello() { is_rc 3 && out_is "hello from $1-bit Windows"$'\r\n'; }
usage_error() { is_rc 2 && [ ! -s "$scratch/out" ] && err_has "^usage: wine_check"; }
refused_pe32() { is_rc 125 && [ ! -s "$scratch/out" ] && err_has "32-bit program"; }
fetched() { is_rc 0 && cmp -s "$scratch/out" "$scratch/site/page.bin"; }
extracted() { is_rc 0 && grep -q ", 2 files" "$scratch/out" && cmp -s "$1" "$scratch/cab/blob.bin"; }
# A second server for the prefix would have made its folder in the caller's TMPDIR.
one_server() { said_hello "$1" && [ -z "$(ls -A "$scratch/tmp$1")" ]; }
on_tmpfs() { [ "$(findmnt -no FSTYPE -T "$1")" = tmpfs ]; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# --- build with the toolchain files, and ctest with the emulator and the fixture ----------
for w in 32 64; do
    triplet=i686
    [ $w = 32 ] || triplet=x86_64
    if ! cmake -S "$tree/tests/support/wine" -B "$build/$w" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-$triplet.cmake" >"$scratch/cmake.log" 2>&1 ||
        ! cmake --build "$build/$w" >>"$scratch/cmake.log" 2>&1; then
        cat "$scratch/cmake.log"
        exit 1
    fi
    kind="PE32 executable"
    [ $w = 32 ] || kind="PE32+ executable"
    rc=0
    check "$w-bit: cmake/mingw-$triplet.cmake builds a $kind" \
        sh -c "file '$build/$w/wine_check.exe' | grep -q '$kind'"
    check "$w-bit: it imports only system DLLs (static C++ runtime)" \
        system_imports_only $triplet "$build/$w/wine_check.exe"
    check "$w-bit: ctest runs it through the emulator, with the wineserver fixture" \
        ctest --test-dir "$build/$w" --output-on-failure -Q --timeout 120
done

# --- start-up times: cold (no server), then warm (the fixture's persistent server) --------
for w in 32 64; do
    t=$(now)
    run $w "$build/$w/wine_check.exe" hello
    cold=$(elapsed "$t")
    "$tree/scripts/wine_server.sh" start $w "$build/$w/wine-prefix"
    warm=()
    for _ in 1 2 3 4 5; do
        t=$(now)
        run $w "$build/$w/wine_check.exe" hello
        warm+=("$(elapsed "$t")")
    done
    echo "time    $w-bit start of a trivial program: cold $cold s, warm ${warm[*]} s"
done

# --- console: output, exit code and standard error, unchanged -----------------------------
for w in 32 64; do
    run $w "$build/$w/wine_check.exe" hello
    check "$w-bit: its line on standard output, exit code 3" said_hello $w
    run $w "$build/$w/wine_check.exe" bogus
    check "$w-bit: a usage error on standard error only, exit code 2" usage_error
done
for w in 32 64; do
    mkdir "$scratch/tmp$w"
    TMPDIR=$scratch/tmp$w run $w "$build/$w/wine_check.exe" hello
    check "$w-bit: a caller's own TMPDIR starts no second wineserver for the prefix" one_server $w
done
run 64 "$build/32/wine_check.exe" hello
check "wine64.sh refuses a 32-bit program (wine64 would exit 0 without running it)" refused_pe32

# --- wsock32.dll against nginx on loopback ------------------------------------------------
mkdir -p "$scratch/site" "$scratch/nginx/temp" "$scratch/nginx/logs"
{
    seq 1 400 | sed 's/^/line /'
    head -c 3000 /dev/urandom # bytes no text translation may touch
} >"$scratch/site/page.bin"
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 12000))
    d=$scratch/nginx
    cat >"$d/nginx.conf" <<EOF
daemon off; master_process off; worker_processes 1;
error_log $d/logs/error.log; pid $d/nginx.pid;
events { worker_connections 16; }
http {
  access_log off; default_type application/octet-stream;
  client_body_temp_path $d/temp/body; proxy_temp_path $d/temp/proxy;
  fastcgi_temp_path $d/temp/fastcgi; uwsgi_temp_path $d/temp/uwsgi; scgi_temp_path $d/temp/scgi;
  server { listen 127.0.0.1:$port; root $scratch/site; }
}
EOF
    nginx -p "$d" -e "$d/logs/error.log" -c "$d/nginx.conf" 2>/dev/null &
    nginx_pid=$!
    for _ in $(seq 100); do
        curl -sf -o /dev/null "http://127.0.0.1:$port/page.bin" && break 2
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$nginx_pid" 2>/dev/null || true
    nginx_pid=
done
[ -n "$nginx_pid" ] || { echo "nginx did not start"; exit 1; }
for w in 32 64; do
    run $w "$build/$w/wine_check.exe" http "$port" page.bin
    check "$w-bit: wsock32.dll bound by name fetches a page from nginx, byte for byte" fetched
done

# --- cabinet.dll on a gcab cabinet; the 32-bit side writes into a tmpfs mounted just now ---
mkdir -p "$scratch/cab" "$scratch/mnt"
seq 1 2000 >"$scratch/cab/readme.txt"
head -c 200000 /dev/urandom >"$scratch/cab/blob.bin"
(cd "$scratch/cab" && gcab -c -z "$scratch/check.cab" readme.txt blob.bin)
mount -t tmpfs -o size=4m tmpfs "$scratch/mnt"
run 32 "$build/32/wine_check.exe" cab "$scratch/check.cab" blob.bin "$scratch/mnt/blob.bin"
check "32-bit: cabinet.dll's FDI reads the cabinet's head (2 files)" \
    grep -q "^cabinet: .* 1 folders, 2 files" "$scratch/out"
check "32-bit: FDICopy extracts one file, byte for byte" extracted "$scratch/mnt/blob.bin"
check "... into the tmpfs that the host mounted after the chroot's binds" on_tmpfs "$scratch/mnt/blob.bin"
umount "$scratch/mnt"
check "the tmpfs's unmount reaches the chroot: its folder can be removed" rmdir "$scratch/mnt"
run 64 "$build/64/wine_check.exe" cab "$scratch/check.cab" blob.bin "$scratch/blob64.bin"
check "64-bit: FDICopy extracts one file, byte for byte" extracted "$scratch/blob64.bin"

# --- a window with an EDIT child, from inside the chroot, on Xvfb --------------------------
Xvfb -displayfd 8 -nolisten tcp -noreset -screen 0 640x360x24 8>"$scratch/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
display=$(head -n 1 "$scratch/display")
[ -n "$display" ] || { echo "Xvfb did not start"; exit 1; }
rc=0
DISPLAY=:$display "$tree/scripts/wine32.sh" -p "$build/32/wine-prefix" \
    "$build/32/wine_check.exe" window "$scratch/stop" >"$scratch/out" 2>"$scratch/err" &
window_pid=$!
for _ in $(seq 600); do
    grep -q "^window shown" "$scratch/out" 2>/dev/null && break
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.1
done
check "32-bit: the window and its EDIT child are up" \
    grep -q "^window shown: Hello from the Windows side" "$scratch/out"
rm -f "$build/window.png"
check "the X server knows the window by its title" \
    import -display ":$display" -window "Wine check" "$scratch/window.png"
import -display ":$display" -window root "$build/window.png"
touch "$scratch/stop"
wait "$window_pid" || rc=$?
window_pid=
check "32-bit: the window program ends by itself, exit code 0" is_rc 0
echo "        screenshot: $build/window.png"

echo "wine selfcheck: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
