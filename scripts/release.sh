#!/usr/bin/env bash
# The release a vendor ships, in $BUILD_DIR/release: remover.exe built afresh in a clean
# folder (the same bytes from every clean build of one commit with one toolchain),
# signed and verified when a certificate is given, and SHA256SUMS beside it.
#   REMOVER_SIGN_PFX            the code-signing certificate with its key (PKCS#12 file)
#   REMOVER_SIGN_PASSWORD       its password: handed to osslsigncode through a pipe,
#                               never on a command line, in its environment or in the output
#   REMOVER_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Sourced (by the signing test), it only defines sign_exe and verify_exe.
set -euo pipefail

# sign_exe IN OUT: an Authenticode SHA-256 signature with the certificate above.
sign_exe() {
  local pass=() stamp=()
  # The password comes through descriptor 3, from a pipe the shell itself fills.
  [ -n "${REMOVER_SIGN_PASSWORD:-}" ] && pass=(-readpass /dev/fd/3)
  [ -n "${REMOVER_SIGN_TIMESTAMP_URL:-}" ] && stamp=(-ts "$REMOVER_SIGN_TIMESTAMP_URL")
  rm -f "$2"
  env -u REMOVER_SIGN_PASSWORD osslsigncode sign -h sha256 -pkcs12 "$REMOVER_SIGN_PFX" "${pass[@]}" \
      "${stamp[@]}" -in "$1" -out "$2" 3< <(printf '%s' "${REMOVER_SIGN_PASSWORD:-}") >/dev/null
}

# verify_exe FILE: the signature holds for the file's bytes and its certificate chains
# to the system's trusted roots. A self-signed certificate (a test's, an in-house one)
# chains to nothing: it is verified against itself, and said so.
verify_exe() {
  local tmp ca=() out
  tmp=$(mktemp -d)
  if osslsigncode extract-signature -pem -in "$1" -out "$tmp/signature.pem" >/dev/null 2>&1 &&
     openssl pkcs7 -print_certs -in "$tmp/signature.pem" -out "$tmp/certs.pem" 2>/dev/null &&
     [ "$(grep -c 'BEGIN CERTIFICATE' "$tmp/certs.pem")" = 1 ] &&
     [ "$(openssl x509 -in "$tmp/certs.pem" -noout -subject_hash)" = \
       "$(openssl x509 -in "$tmp/certs.pem" -noout -issuer_hash)" ]; then
    echo "== self-signed certificate: verified against itself only; Windows will not trust it"
    ca=(-CAfile "$tmp/certs.pem")
  fi
  if out=$(osslsigncode verify "${ca[@]}" -in "$1" 2>&1); then
    rm -rf "$tmp"
    echo "== signature verified: signed by $(echo "$out" | sed -n 's/^[[:space:]]*Subject: //p' | head -1)"
    return 0
  fi
  rm -rf "$tmp"
  echo "$out" >&2
  echo "== the signature of $1 does not verify" >&2
  return 1
}

release() {
  local root tree out commit
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  : "${BUILD_DIR:=$root/build}"
  tree="$BUILD_DIR/release-build" out="$BUILD_DIR/release"
  commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "none (not in git)")
  if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
    echo "== warning: the sources differ from commit $commit: this build is of no commit"
  fi
  rm -rf "$tree" "$out"
  mkdir -p "$tree" "$out"
  if ! { cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
               -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF &&
         cmake --build "$tree" --target remover -j"$(nproc)"; } >"$tree/build.log" 2>&1; then
    cat "$tree/build.log" >&2
    exit 1
  fi
  local sums=(remover.exe)
  if [ -n "${REMOVER_SIGN_PFX:-}" ]; then
    mkdir -p "$out/unsigned"
    cp "$tree/remover.exe" "$out/unsigned/remover.exe"
    sign_exe "$out/unsigned/remover.exe" "$out/remover.exe"
    verify_exe "$out/remover.exe"
    sums+=(unsigned/remover.exe)
  else
    cp "$tree/remover.exe" "$out/remover.exe"
    echo "== not signed: no certificate given (set REMOVER_SIGN_PFX and REMOVER_SIGN_PASSWORD to sign)"
  fi
  (cd "$out" && sha256sum "${sums[@]}" > SHA256SUMS)
  echo "== commit $commit, toolchain: $(dpkg-query -W -f='${Package} ${Version}, ' g++-mingw-w64-i686-posix \
        binutils-mingw-w64-i686 mingw-w64-i686-dev 2>/dev/null | sed 's/, $//' || i686-w64-mingw32-g++-posix --version | head -1)"
  echo "== $out/remover.exe: $(stat -c %s "$out/remover.exe") bytes"
  sed 's/^/   /' "$out/SHA256SUMS"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  release
fi
