#!/usr/bin/env bash
# Signs a copy of the program with a throwaway self-signed certificate the way
# `./run release` does; the signature must verify, and no longer once a byte changes.
#   sign_test.sh RELEASE_SCRIPT BUILT_EXE
set -euo pipefail
source "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=remover test signer" \
        -addext extendedKeyUsage=codeSigning -keyout "$tmp/key.pem" -out "$tmp/cert.pem" 2>/dev/null
export REMOVER_SIGN_PASSWORD="test-$RANDOM$RANDOM" REMOVER_SIGN_PFX="$tmp/signer.pfx"
openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" -out "$REMOVER_SIGN_PFX" \
        -passout env:REMOVER_SIGN_PASSWORD
sign_exe "$2" "$tmp/signed.exe"
verify_exe "$tmp/signed.exe"
! verify_exe "$2" 2>/dev/null || { echo "the unsigned program verified"; exit 1; }
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(4096); b = f.read(1); f.seek(4096); f.write(bytes([b[0] ^ 1]))' "$tmp/signed.exe"
! verify_exe "$tmp/signed.exe" 2>/dev/null || { echo "a changed byte still verified"; exit 1; }
echo "signed, verified, and a changed byte fails"
