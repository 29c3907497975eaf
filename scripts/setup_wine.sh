#!/usr/bin/env bash
# The ground the 32-bit Windows build's tests stand on: an i386 Debian chroot with Wine's 32-bit
# half, and qemu-i386 through binfmt_misc where this kernel can't run i386 code. The host stays
# amd64-only: multiarch wine32 can't be installed next to the host's security updates.
# Made once (minutes); later runs only check, in well under a second. Called by setup.sh, which
# installs what this needs on the host (debootstrap, binutils, wine64).
#   FORCE_QEMU=1  run i386 code through qemu-i386 even where the kernel runs it natively
#   FORCE_QEMU=0  remove that registration again
#   setup_wine.sh unmount   undoes the launchers' binds (do that before removing the chroot:
#                           rm -rf would go through them into /tmp and the source tree)
set -euo pipefail
. "$(dirname "$0")/wine_env.sh"
[ "$(id -u)" -eq 0 ] || kvw_die "must run as root (debootstrap, chroot, mount)"
if [ "${1:-}" = unmount ]; then
    kvw_unmount_all "$KV_WINE_ROOT" || kvw_die "something is still mounted below $KV_WINE_ROOT"
    exit 0
fi
mkdir -p "$KV_WINE_HOME"
log=$KV_WINE_HOME/setup.log
suite=bookworm
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
export DEBIAN_FRONTEND=noninteractive

run_logged() {
    echo "+ $*" >>"$log"
    "$@" >>"$log" 2>&1 || {
        tail -n 30 "$log" >&2
        kvw_die "failed: $* (whole log: $log)"
    }
}

# The package source this machine uses for suite $1 (deb822 or one-line lists).
source_uri() {
    local want=$1 uri
    uri=$(awk -v want="$want" '
        function check(  n, i, s) {
            n = split(suites, s, /[ \t]+/)
            for (i = 1; i <= n && !found; i++)
                if (s[i] == want && types ~ /(^|[ \t])deb([ \t]|$)/) { print uris; found = 1 }
            uris = suites = types = ""
        }
        /^[ \t]*$/ { check(); next }
        /^Types:/ { types = $0 }
        /^URIs:/ { uris = $2 }
        /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
        END { check() }' /etc/apt/sources.list.d/*.sources 2>/dev/null)
    [ -n "$uri" ] || uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -E 's/\[[^]]*\]//' | awk -v want="$want" '$1 == "deb" && $3 == want { print $2; exit }')
    echo "$uri"
}

# --- i386 code: natively, or through qemu-i386 ------------------------------------------------
# A three-instruction i386 program that exits 0 tells whether this kernel runs i386 code.
probe=$KV_WINE_HOME/probe-i386
if [ ! -x "$probe" ]; then
    t=$(mktemp -d)
    printf '.globl _start\n_start: movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$t/p.s"
    as --32 "$t/p.s" -o "$t/p.o" && ld -m elf_i386 "$t/p.o" -o "$probe"
    rm -rf "$t"
fi
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/kvupdater-i386

use_qemu() {
    # Bookworm's own qemu (7.2) hangs 32-bit Wine; backports has one that runs it. Its user-mode
    # binaries are static, which the F flag needs: the kernel opens the interpreter once, at
    # registration, so it works inside the chroot too, where no amd64 library exists.
    local v
    v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -z "$v" ] || dpkg --compare-versions "$v" lt 1:8; then
        echo "setup: installing qemu-user from $suite-backports (i386 code through qemu)"
        local mirror
        mirror=$(source_uri "$suite")
        echo "deb [signed-by=$keyring] $mirror $suite-backports main" \
            >/etc/apt/sources.list.d/kvupdater-backports.list
        run_logged apt-get update
        run_logged apt-get install -y --no-install-recommends -t "$suite-backports" qemu-user
    fi
    file -L /usr/bin/qemu-i386 | grep -qE 'static(ally|-pie) linked' ||
        kvw_die "/usr/bin/qemu-i386 is not static: it can't serve the chroot"
    mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt" ||
        kvw_die "can't mount binfmt_misc at $binfmt"
    [ -e "$entry" ] && echo -1 >"$entry"
    # i386 ELF executables and shared objects (e_machine 3), as qemu's own table has them.
    printf '%s\n' ':kvupdater-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
        >"$binfmt/register" || kvw_die "can't register qemu-i386 with binfmt_misc"
    echo "setup: i386 code runs through qemu-i386 (binfmt_misc entry $entry)"
}

if [ "${FORCE_QEMU:-}" = 0 ] && [ -e "$entry" ]; then
    echo -1 >"$entry"
    echo "setup: qemu-i386 unregistered"
fi
if [ "${FORCE_QEMU:-}" = 1 ]; then
    [ -e "$entry" ] || use_qemu
elif ! "$probe" 2>/dev/null; then
    [ -e "$entry" ] && kvw_die "i386 code does not run, even through $entry"
    use_qemu
fi
"$probe" 2>/dev/null || kvw_die "i386 code does not run here, not even through qemu-i386"

# --- the chroot ----------------------------------------------------------------------------
# Beside Wine itself: its fonts (the classic dialog fonts and the Marlett glyphs of the caption
# buttons), so that windows are drawn as on Windows. A chroot made before a package joined this
# list gets it below.
chroot_extras="fonts-wine"
if [ ! -x "$KV_WINE_ROOT/usr/lib/wine/wine" ]; then
    echo "setup: making the i386 chroot with 32-bit Wine in $KV_WINE_ROOT (minutes; log: $log)"
    began=$SECONDS
    mirror=$(source_uri "$suite")
    security=$(source_uri "$suite-security")
    [ -n "$mirror" ] || kvw_die "no package source for $suite in /etc/apt"
    # Built aside and moved into place when whole: an interrupted setup starts again from scratch.
    new=$KV_WINE_HOME/root32.partial
    for old in "$new" "$KV_WINE_ROOT"; do
        if [ -e "$old" ]; then
            kvw_unmount_all "$old" || kvw_die "can't unmount what is mounted below $old"
            rm -rf --one-file-system "$old"
        fi
    done
    run_logged debootstrap --arch=i386 --variant=minbase "$suite" "$new" "$mirror"
    {
        echo "deb $mirror $suite main"
        echo "deb $mirror $suite-updates main"
        [ -z "$security" ] || echo "deb $security $suite-security main"
    } >"$new/etc/apt/sources.list"
    cp /etc/hosts /etc/resolv.conf "$new/etc/"
    apt-config dump | grep -i '::proxy' >"$new/etc/apt/apt.conf.d/01proxy" || true
    # No package may start a service inside the chroot.
    printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
    chmod +x "$new/usr/sbin/policy-rc.d"
    mount -t proc proc "$new/proc"
    mount --rbind /dev "$new/dev"
    mount --make-rslave "$new/dev"
    # A mirror caught mid-sync fails one index (seen here: bookworm-security's i386 list); the
    # others still serve the install, and a missing package fails that step loudly.
    if ! chroot "$new" apt-get update >>"$log" 2>&1; then
        echo "setup: warning: a package index failed to download into the chroot; going on without it" >&2
    fi
    run_logged chroot "$new" apt-get install -y --no-install-recommends wine wine32 $chroot_extras
    run_logged chroot "$new" apt-get clean
    kvw_unmount_all "$new" || kvw_die "can't unmount what is mounted below $new"
    mv "$new" "$KV_WINE_ROOT"
    echo "setup: i386 chroot ready in $((SECONDS - began)) s (wine32 $(chroot "$KV_WINE_ROOT" dpkg-query -W -f='${Version}' wine32))"
fi
missing=""
for p in $chroot_extras; do
    chroot "$KV_WINE_ROOT" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q ' installed$' ||
        missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "setup: adding$missing to the i386 chroot"
    kvw_mount_base
    if ! chroot "$KV_WINE_ROOT" apt-get update >>"$log" 2>&1; then
        echo "setup: warning: a package index failed to download into the chroot; going on without it" >&2
    fi
    # shellcheck disable=SC2086
    run_logged chroot "$KV_WINE_ROOT" apt-get install -y --no-install-recommends $missing
    run_logged chroot "$KV_WINE_ROOT" apt-get clean
fi
# The launchers bind what they need when they first run.
