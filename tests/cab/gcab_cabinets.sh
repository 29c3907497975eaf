#!/usr/bin/env bash
# Cabinets made by gcab on the host for the Windows build's tests of the real cabinet.dll (a
# ctest fixture: a test under Wine can't run gcab):
#   gcab_cabinets.sh DIR   src/ holds the files; stored.cab and mszip.cab hold a.txt, empty.dat,
#                          big.bin, sub/deeper/text.txt and sub/KVUpdater.exe, without and with
#                          MSZIP compression; t.cab a.txt, skip.txt and big.bin (MSZIP); p.cab
#                          p.bin (MSZIP)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: gcab_cabinets.sh DIR" >&2; exit 2; }
dir=$1
rm -rf "$dir"
mkdir -p "$dir/src/sub/deeper"
cd "$dir/src"
printf 'abc' >a.txt
: >empty.dat
printf 'not wanted' >skip.txt
{ head -c 90000 /dev/urandom; head -c 90000 /dev/zero | tr '\0' r; } >big.bin
{ head -c 100000 /dev/zero | tr '\0' x; printf tail; } >sub/deeper/text.txt
head -c 40000 /dev/urandom >sub/KVUpdater.exe
head -c 150000 /dev/urandom >p.bin
all="a.txt empty.dat big.bin sub/deeper/text.txt sub/KVUpdater.exe"
# shellcheck disable=SC2086
gcab -c ../stored.cab $all
# shellcheck disable=SC2086
gcab -cz ../mszip.cab $all
gcab -cz ../t.cab a.txt skip.txt big.bin
gcab -cz ../p.cab p.bin
