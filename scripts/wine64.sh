#!/usr/bin/env bash
# Runs a 64-bit Windows program under the host's wine64:
#   wine64.sh [-p PREFIX] [-C DIR] PROGRAM [ARGS...]
# PREFIX (or $KV_WINEPREFIX) is the Wine prefix, one per build folder; DIR the working folder
# (default: the current one). The program's exit code, standard output and standard error come
# back unchanged; the environment passes through, but TMPDIR and, for a prefix with a display
# of its own, DISPLAY (see below); KV_WINEDLLOVERRIDES adds to Wine's DLL overrides.
# Its own failures exit 125. With --server, a wineserver command (`wine64.sh --server -p P -k`).
set -euo pipefail
die() {
    echo "wine64.sh: $*" >&2
    exit 125
}
prefix=${KV_WINEPREFIX:-}
dir=$PWD
run=/usr/lib/wine/wine64
while [ $# -gt 0 ]; do
    case $1 in
    -p) prefix=$2; shift 2 ;;
    -C) dir=$2; shift 2 ;;
    --server) run=/usr/lib/wine/wineserver64; shift ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || [ "$run" != /usr/lib/wine/wine64 ] || die "usage: wine64.sh [-p PREFIX] [-C DIR] PROGRAM [ARGS...]"
[ -n "$prefix" ] || die "no Wine prefix: give -p PREFIX or KV_WINEPREFIX"
mkdir -p "$prefix"
prefix=$(realpath -e "$prefix")
# A prefix whose desktop lives on a display of its own (scripts/wine_desktop.sh) names it beside
# itself: every program of the prefix gets that display, whatever DISPLAY says, since a Wine
# desktop stays on the display it was made on and a program on another one gets no windows.
if [ -s "$prefix/kv-display" ]; then
    DISPLAY=$(cat "$prefix/kv-display")
    export DISPLAY
fi
cd "$dir" || die "no folder $dir"

# wine64 given a 32-bit program prints a warning and exits 0 without running it: refuse it here
# so that no caller mistakes that for a pass. (PE header: e_lfanew at 0x3c, then "PE\0\0" and
# the machine, 0x014c for i386.)
if [ "$run" = /usr/lib/wine/wine64 ] && [ -f "$1" ]; then
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || pe=
    if [ -n "$pe" ] && [ "$(od -An -tx1 -j"$pe" -N6 "$1" | tr -d ' \n')" = 504500004c01 ]; then
        die "$1 is a 32-bit program: run it with wine32.sh"
    fi
fi

# TMPDIR is fixed: this Wine looks for the prefix's server below it, and a program with another
# TMPDIR would start a second server for the prefix.
exec env TMPDIR=/tmp WINEARCH=win64 WINEPREFIX="$prefix" WINELOADER=/usr/lib/wine/wine64 \
    WINESERVER=/usr/lib/wine/wineserver64 WINEDEBUG="${KV_WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="mscoree,mshtml=${KV_WINEDLLOVERRIDES:+;$KV_WINEDLLOVERRIDES}" "$run" "$@"
