# shellcheck shell=bash
# Shared by the Wine scripts (sourced, not run): where the i386 chroot lives, and how host
# folders are made visible inside it at the same paths.
#
# The chroot lives under /var/lib/kvupdater-wine, outside every work tree and outside /tmp:
#  - it outlives clones and build folders (CI clones afresh on every run; a chroot of ~1 GiB
#    made once per machine keeps later setups to a check),
#  - /tmp and the source tree are bound into it, so it must not lie under either (a bind of a
#    folder into a place below itself nests without end), and `git clean`, `rm -rf build` or a
#    /tmp cleaner can't walk into it and through its bind mounts into the host's files.
# KV_WINE_HOME moves it (for a second chroot, e.g. to time a fresh setup).

KV_WINE_HOME=${KV_WINE_HOME:-/var/lib/kvupdater-wine}
KV_WINE_ROOT=$KV_WINE_HOME/root32
# The source tree these scripts belong to: bound into the chroot, as are the build folders in it.
KV_WINE_TREE=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)

kvw_die() {
    echo "${0##*/}: $*" >&2
    exit 125
}

# True when host folder $1 (absolute, no symbolic links) is the same folder inside the chroot.
kvw_visible() {
    [ "$1" -ef "$KV_WINE_ROOT$1" ]
}

# Paths that must never be bound over: the chroot's own system, and anything holding the chroot.
kvw_refused() {
    [ "$1" = / ] && return 0
    case "$1/" in
    /usr/* | /etc/* | /bin/* | /sbin/* | /lib/* | /lib32/* | /lib64/* | /libx32/* | /boot/*)
        return 0 ;;
    "$KV_WINE_HOME"/*) return 0 ;;
    esac
    case "$KV_WINE_HOME/" in "$1"/*) return 0 ;; esac
    return 1
}

# The binds, made under a lock since launchers run in parallel. The host's mounts here are
# private, so the root mount is made shared first and every bind a slave of it: a mount made
# later below a bound folder (a test's tmpfs) then shows in the chroot too, and its unmount
# as well, so that the host can remove the folder again. A systemd host is like that already.
kvw_bind() {
    local dir=$1
    kvw_refused "$dir" && kvw_die "$dir can't be seen at the same path inside the i386 chroot"
    (
        flock 9
        kvw_visible "$dir" && exit 0
        # A bind of a folder removed since (a checkout deleted and cloned again) holds the
        # place and refuses every mount onto it: it goes first.
        if mountpoint -q "$KV_WINE_ROOT$dir"; then umount -l "$KV_WINE_ROOT$dir" || exit 1; fi
        [ "$(findmnt -no PROPAGATION /)" = shared ] || mount --make-shared /
        mkdir -p "$KV_WINE_ROOT$dir"
        mount --rbind "$dir" "$KV_WINE_ROOT$dir"
        mount --make-rslave "$KV_WINE_ROOT$dir"
    ) 9>"$KV_WINE_HOME/mount.lock" || kvw_die "can't bind $dir into the i386 chroot"
}

# Makes each folder given (absolute) visible at its own path inside the chroot: a missing one
# is bound itself, unless a folder above it is bound already. Costs nothing when all are there.
kvw_expose() {
    local dir
    for dir in "$@"; do
        dir=$(realpath -e -- "$dir") || kvw_die "no folder $dir"
        kvw_visible "$dir" || kvw_bind "$dir"
    done
}

# What Wine needs of the host in the chroot: /proc, /dev, /tmp (with the X servers' sockets in
# /tmp/.X11-unix, made whenever they are), TMPDIR, and this source tree with its build folders.
kvw_mount_base() {
    [ -x "$KV_WINE_ROOT/usr/lib/wine/wine" ] || kvw_die "no i386 chroot with Wine at $KV_WINE_ROOT: run scripts/setup.sh"
    # Each mount of proc is a file system of its own (-ef can't tell), so look into it instead.
    if ! [ -e "$KV_WINE_ROOT/proc/self/stat" ] || ! [ /dev -ef "$KV_WINE_ROOT/dev" ]; then
        (
            flock 9
            if ! [ -e "$KV_WINE_ROOT/proc/self/stat" ]; then
                mount -t proc proc "$KV_WINE_ROOT/proc"
                mount --make-private "$KV_WINE_ROOT/proc"
            fi
            if ! [ /dev -ef "$KV_WINE_ROOT/dev" ]; then
                mount --rbind /dev "$KV_WINE_ROOT/dev"
                mount --make-rslave "$KV_WINE_ROOT/dev"
            fi
        ) 9>"$KV_WINE_HOME/mount.lock" || kvw_die "can't mount /proc and /dev in the i386 chroot"
    fi
    kvw_expose /tmp "$KV_WINE_TREE"
    if [ -n "${TMPDIR:-}" ] && [ -d "$TMPDIR" ]; then kvw_expose "$TMPDIR"; fi
}

# Undoes every mount below the chroot (deepest first), so the chroot can be removed safely.
kvw_unmount_all() {
    local root=$1 m
    findmnt -rno TARGET | grep -F "$root/" | sort -r | while read -r m; do
        umount -l "$m" 2>/dev/null || true
    done
    ! findmnt -rno TARGET | grep -qF "$root/"
}
