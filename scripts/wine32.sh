#!/usr/bin/env bash
# Runs a 32-bit Windows program under the i386 chroot's Wine:
#   wine32.sh [-p PREFIX] [-C DIR] PROGRAM [ARGS...]
# PREFIX (or $KV_WINEPREFIX) is the Wine prefix, one per build folder; DIR the working folder
# (default: the current one). Every folder named here, /tmp, TMPDIR and this source tree are
# seen at the same paths inside the chroot, so Z:\ paths match on both sides. The program's
# exit code, standard output and standard error come back unchanged; the environment passes
# through, but TMPDIR and, for a prefix with a display of its own, DISPLAY (see below);
# KV_WINEDLLOVERRIDES adds to Wine's DLL overrides (a test's "cabinet=n": its own cabinet.dll
# beside it). Its own failures exit 125.
# Needs root.
# Also the one way in for Wine's tools: `wine32.sh -p PREFIX wineboot -i`, or with
# --server, a wineserver command (`wine32.sh --server -p PREFIX -k`).
set -euo pipefail
. "$(dirname "$0")/wine_env.sh"
prefix=${KV_WINEPREFIX:-}
dir=$PWD
run=/usr/lib/wine/wine
while [ $# -gt 0 ]; do
    case $1 in
    -p) prefix=$2; shift 2 ;;
    -C) dir=$2; shift 2 ;;
    --server) run=/usr/lib/wine/wineserver32; shift ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || [ "$run" != /usr/lib/wine/wine ] || kvw_die "usage: wine32.sh [-p PREFIX] [-C DIR] PROGRAM [ARGS...]"
[ -n "$prefix" ] || kvw_die "no Wine prefix: give -p PREFIX or KV_WINEPREFIX"
[ "$(id -u)" -eq 0 ] || kvw_die "must run as root (chroot)"
mkdir -p "$prefix"
prefix=$(realpath -e "$prefix")
dir=$(realpath -e "$dir") || kvw_die "no folder $dir"
# A prefix whose desktop lives on a display of its own (scripts/wine_desktop.sh) names it beside
# itself: every program of the prefix gets that display, whatever DISPLAY says, since a Wine
# desktop stays on the display it was made on and a program on another one gets no windows.
if [ -s "$prefix/kv-display" ]; then
    DISPLAY=$(cat "$prefix/kv-display")
    export DISPLAY
fi

kvw_mount_base
kvw_expose "$dir" "$prefix"
case ${1:-} in /*) [ ! -e "$1" ] || kvw_expose "$(dirname "$1")" ;; esac

# The chroot's own search path and no host libraries; the rest of the environment is the
# program's. wine and wineserver are named directly: Debian's wrappers pick a width or start
# the server without persistence. TMPDIR is fixed: this Wine looks for the prefix's server
# below it, and a program with another TMPDIR would start a second server for the prefix.
exec chroot "$KV_WINE_ROOT" /usr/bin/env -u LD_PRELOAD -u LD_LIBRARY_PATH \
    PATH=/usr/local/bin:/usr/bin:/bin HOME=/root TMPDIR=/tmp WINEARCH=win32 WINEPREFIX="$prefix" \
    WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 \
    WINEDEBUG="${KV_WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=${KV_WINEDLLOVERRIDES:+;$KV_WINEDLLOVERRIDES}" \
    /bin/sh -c 'cd "$0" && exec "$@"' "$dir" "$run" "$@"
