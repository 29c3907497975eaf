#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libmspack-dev libgcab-dev gcab
  libxcb1-dev libxcb-res0-dev
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl
  nginx-light tinyproxy xvfb xauth xfonts-base fonts-dejavu-core cabextract curl binutils strace
  dpkg-dev file xz-utils lintian man-db systemd
  clang libclang-rt-14-dev
  xfsprogs btrfs-progs e2fsprogs util-linux tzdata
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 debootstrap
  x11-apps imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The packaged servers must not run as system services: the tests start their own.
for svc in nginx tinyproxy; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$svc" 2>/dev/null; then
    systemctl stop "$svc" || true
  fi
done
echo "setup: all packages present"
# The 32-bit Windows build runs under Wine in an i386 chroot: made once, checked on every run.
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO bash "$(dirname "$0")/setup_wine.sh"
