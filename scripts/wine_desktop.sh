#!/usr/bin/env bash
# A Wine prefix whose desktop lives on an X display of its own, for the Windows tests that need
# windows (the product's programs, the main window). A Wine desktop stays on the display of the
# program that first needed it, and a program with another display, or none, gets no windows
# there: so these tests have a prefix of their own, apart from the display-less one of the other
# Windows tests. ctest fixtures, as scripts/wine_server.sh:
#   wine_desktop.sh start 32|64 PREFIX   starts Xvfb and names its display in PREFIX/kv-display
#                                        (the launchers give every program of the prefix that
#                                        display), then the prefix's wineserver; once per prefix,
#                                        Wine draws the window frames itself (no window manager
#                                        runs) and Wine's own fonts go into C:\windows\Fonts
#   wine_desktop.sh stop 32|64 PREFIX    ends the server and the prefix's programs, then Xvfb
#   wine_desktop.sh display PREFIX       prints the display (":N") while the desktop runs
set -euo pipefail
. "$(dirname "$0")/wine_env.sh"
scripts=$(dirname "$0")
if [ "${1:-}" = display ] && [ $# -eq 2 ]; then
    [ -s "$2/kv-display" ] || { echo "wine_desktop.sh: no desktop runs for $2" >&2; exit 1; }
    cat "$2/kv-display"
    exit 0
fi
[ $# -eq 3 ] || { echo "usage: wine_desktop.sh start|stop 32|64 PREFIX | display PREFIX" >&2; exit 2; }
action=$1 width=$2 prefix=$3
case $width in 32 | 64) ;; *) echo "wine_desktop.sh: width is 32 or 64, not $width" >&2; exit 2 ;; esac
mkdir -p "$prefix"
prefix=$(realpath -e "$prefix")
log=$prefix/kv-desktop.log

# The Xvfb of an earlier start, if it still runs.
stop_xvfb() {
    local pid
    pid=$(cat "$prefix/kv-xvfb.pid" 2>/dev/null || true)
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
    fi
    rm -f "$prefix/kv-xvfb.pid" "$prefix/kv-display"
}

case $action in
start)
    "$scripts/wine_server.sh" stop "$width" "$prefix" >>"$log" 2>&1 || true
    stop_xvfb
    echo "== start $(date -u +%FT%TZ)" >>"$log"
    # Xvfb outlives this script and must hold none of the caller's descriptors (ctest waits
    # for every copy of a test's output pipe to close). -noreset: a desktop outlives its
    # clients. It writes its display number to descriptor 9 once it takes clients.
    number=$prefix/kv-xvfb.number
    : >"$number"
    (
        for fd in "/proc/$BASHPID/fd/"*; do
            fd=${fd##*/}
            [ "$fd" -le 2 ] || eval "exec $fd>&-" 2>/dev/null || true
        done
        exec setsid Xvfb -displayfd 9 -nolisten tcp -noreset -screen 0 1280x1024x24 9>"$number"
    ) </dev/null >>"$log" 2>&1 &
    echo $! >"$prefix/kv-xvfb.pid"
    for _ in $(seq 300); do
        [ -s "$number" ] && break
        sleep 0.1
    done
    [ -s "$number" ] || { cat "$log" >&2; echo "wine_desktop.sh: Xvfb did not start" >&2; stop_xvfb; exit 1; }
    echo ":$(head -n 1 "$number")" >"$prefix/kv-display"
    rm -f "$number"
    "$scripts/wine_server.sh" start "$width" "$prefix"
    # The screen's standard 96 dots per inch, whatever a test that set another left behind.
    "$scripts/wine$width.sh" -p "$prefix" reg delete 'HKCU\Control Panel\Desktop' \
        /v LogPixels /f >>"$log" 2>&1 || true
    if [ ! -f "$prefix/kv-desktop-ready" ]; then
        # Nothing draws a frame round a window on a bare X server: Wine draws its own, caption,
        # icon and buttons, as Windows does.
        "$scripts/wine$width.sh" -p "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' \
            /v Decorated /d N /f >>"$log" 2>&1
        # This Wine reads its own fonts (the dialog fonts, the buttons' Marlett glyphs) only
        # from C:\windows\Fonts.
        fonts=/usr/share/wine/fonts
        [ "$width" = 64 ] || fonts=$KV_WINE_ROOT$fonts
        [ -d "$fonts" ] || { echo "wine_desktop.sh: no Wine fonts in $fonts: run scripts/setup.sh" >&2; exit 1; }
        cp "$fonts"/* "$prefix/drive_c/windows/Fonts/"
        touch "$prefix/kv-desktop-ready"
    fi
    ;;
stop)
    echo "== stop $(date -u +%FT%TZ)" >>"$log"
    rc=0
    "$scripts/wine_server.sh" stop "$width" "$prefix" || rc=$?
    stop_xvfb
    exit $rc
    ;;
*)
    echo "wine_desktop.sh: start, stop or display, not $action" >&2
    exit 2
    ;;
esac
