#!/usr/bin/env bash
# What OpenSSL signs and hashes, for the Windows build's signature tests to check through CNG,
# and its verdict on what the Windows build signed (ctest fixtures around them):
#   openssl_vectors.sh make DIR     two P-256 keys (public keys as DER), a manifest signed with
#                                   the first (DER), files around the hash's read block and
#                                   their SHA-256 digests ("digest name" lines in digests.txt)
#   openssl_vectors.sh verify DIR   checks DIR/cng/sig.der over DIR/cng/data.txt against the
#                                   DER public key DIR/cng/pub.der; and that a changed byte fails
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: openssl_vectors.sh make|verify DIR" >&2; exit 2; }
dir=$2
case $1 in
make)
    rm -rf "$dir"
    mkdir -p "$dir/cng"
    cd "$dir"
    for k in key other; do
        openssl ecparam -name prime256v1 -genkey -noout -out $k.pem 2>/dev/null
        openssl ec -in $k.pem -pubout -outform DER -out $k.der 2>/dev/null
    done
    printf 'File Name,Checksum,Size,\r\na.txt,1,2,\r\n' >data.txt
    openssl dgst -sha256 -sign key.pem -out sig.der data.txt
    : >digests.txt
    for size in 0 1048576 1048577; do
        head -c "$size" /dev/urandom >f$size
        echo "$(openssl dgst -sha256 -r f$size | cut -c1-64) f$size" >>digests.txt
    done
    ;;
verify)
    cd "$dir/cng"
    openssl pkey -pubin -inform DER -in pub.der -out pub.pem
    openssl dgst -sha256 -verify pub.pem -signature sig.der data.txt
    printf 'x' >>data.txt
    if openssl dgst -sha256 -verify pub.pem -signature sig.der data.txt >/dev/null 2>&1; then
        echo "openssl_vectors.sh: a changed manifest verified too" >&2
        exit 1
    fi
    ;;
*) echo "openssl_vectors.sh: make or verify, not $1" >&2; exit 2 ;;
esac
