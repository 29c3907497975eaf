#!/usr/bin/env bash
# Keeps one wineserver running for a Wine prefix through a test run, so that a Windows program
# starts in tenths of a second instead of seconds (ctest fixtures: `start` as FIXTURES_SETUP,
# `stop` as FIXTURES_CLEANUP):
#   wine_server.sh start 32|64 PREFIX   boots the prefix if it is new (wineboot -i) and leaves a
#                                       persistent wineserver (-p) running for it
#   wine_server.sh stop 32|64 PREFIX    ends that server and every Windows process of the prefix
# 32 is the i386 chroot's Wine (scripts/wine32.sh), 64 the host's wine64 (scripts/wine64.sh).
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: wine_server.sh start|stop 32|64 PREFIX" >&2; exit 2; }
action=$1 width=$2 prefix=$3
case $width in 32 | 64) ;; *) echo "wine_server.sh: width is 32 or 64, not $width" >&2; exit 2 ;; esac
wine="$(dirname "$0")/wine$width.sh"
server() { "$wine" --server -p "$prefix" -- "$@"; }
# What outlives this script (the server, the prefix's system processes) must hold none of the
# caller's descriptors: ctest waits until every copy of a test's output pipe is closed.
detached() {
    (
        for fd in "/proc/$BASHPID/fd/"*; do
            fd=${fd##*/}
            [ "$fd" -le 2 ] || eval "exec $fd>&-" 2>/dev/null || true
        done
        exec "$@"
    ) </dev/null >>"$log" 2>&1
}
log=$prefix/kv-server.log

case $action in
start)
    mkdir -p "$prefix"
    echo "== start $(date -u +%FT%TZ)" >>"$log"
    # The server goes into the background once its socket is ready. Exit code 2: a server runs
    # already, perhaps one without persistence that a lone program started: it is replaced.
    rc=0
    detached "$wine" --server -p "$prefix" -- -p || rc=$?
    if [ "$rc" -eq 2 ]; then
        detached "$wine" --server -p "$prefix" -- -k || true
        rc=0
        detached "$wine" --server -p "$prefix" -- -p || rc=$?
    fi
    [ "$rc" -eq 0 ] || { cat "$log" >&2; echo "wine_server.sh: wineserver -p failed ($rc)" >&2; exit 1; }
    # A prefix is booted once; the marker is written only after wineboot has finished.
    if [ ! -f "$prefix/kv-booted" ] || [ ! -f "$prefix/system.reg" ]; then
        if ! detached "$wine" -p "$prefix" wineboot -i; then
            cat "$log" >&2
            echo "wine_server.sh: wineboot -i failed in $prefix" >&2
            exit 1
        fi
        touch "$prefix/kv-booted"
    else
        # The prefix's system processes come up now rather than in the first test.
        detached "$wine" -p "$prefix" cmd /c exit 0 || true
    fi
    ;;
stop)
    [ -d "$prefix" ] || exit 0
    echo "== stop $(date -u +%FT%TZ)" >>"$log"
    # -k ends the prefix's processes and the server, which writes the registry out first; -w
    # then waits until no server is left (it answers at once when none runs).
    server -k >>"$log" 2>&1 || true
    if ! timeout 30 "$wine" --server -p "$prefix" -- -w >>"$log" 2>&1; then
        echo "wine_server.sh: the wineserver of $prefix is still running" >&2
        exit 1
    fi
    ;;
*)
    echo "wine_server.sh: start or stop, not $action" >&2
    exit 2
    ;;
esac
