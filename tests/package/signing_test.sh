#!/usr/bin/env bash
# Signing as a step of the package script: a throwaway certificate signs both
# executables and both packages, and each signature verifies; a wrong
# password, a missing certificate or a failing time-stamp server stops the
# script with a clear message and leaves nothing behind.
# Usage: tests/package/signing_test.sh   (scripts/test.sh package runs it)
set -euo pipefail
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
work=$root/build/package-test/signing
empty_dir "$work"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 2 -subj "/CN=QEL throwaway test signer" -addext "extendedKeyUsage=codeSigning" \
  2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.pfx" \
  -passout pass:right-password

verified() {
  osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1 &&
    grep -qi 'digest algorithm *: *sha256' "$work/verify.log" ||
    { cat "$work/verify.log"; false; }
}
# The script failed, said why, and left no package, fragment or executable.
refused() {  # refused "message" output-dir
  grep -q "$1" "$2.err" || { cat "$2.err"; return 1; }
  [ -z "$(find "$2" -mindepth 1 -not -name '.*' 2>/dev/null)" ] || { ls -la "$2"; false; }
}
package() {  # package output-dir arguments...
  local out=$1
  shift
  mkdir -p "$out"
  scripts/package.sh --output "$out" "$@" >/dev/null 2>"$out.err"
}

version=$(sed -n 's/^#define QEL_VERSION_TEXT "\(.*\)"$/\1/p' build/win/generated/qel_version.h)
check "signing succeeds" eval \
  'QEL_SIGN_PASSWORD=right-password package "$work/signed" --sign "$work/signer.pfx"'
for file in bin/QELUpdateCheck1_1.exe bin/updatecheck.exe "QELUpdateCheck-$version-x64.msi" \
    "QELUpdateCheck-$version-x64-peruser.msi"; do
  check "$file is signed (SHA-256) and verifies" verified "$work/signed/$file"
done
check "built again with the release's signatures" package "$work/again" --signatures-from "$work/signed"
same_bytes "the signed release, rebuilt" "$work/signed" "$work/again"
check "an unsigned package has no signature" eval \
  '! osslsigncode verify -CAfile "$work/cert.pem" -in "build/package/QELUpdateCheck-$version-x64.msi" >/dev/null 2>&1'

check "a wrong password is refused" eval \
  '! QEL_SIGN_PASSWORD=wrong package "$work/wrong" --sign "$work/signer.pfx" &&
   refused "wrong password" "$work/wrong"'
check "a missing certificate is refused" eval \
  '! QEL_SIGN_PASSWORD=right-password package "$work/missing" --sign "$work/none.pfx" &&
   refused "no certificate file" "$work/missing"'
check "a missing password is refused" eval \
  '! (unset QEL_SIGN_PASSWORD; package "$work/nopass" --sign "$work/signer.pfx") &&
   refused "QEL_SIGN_PASSWORD" "$work/nopass"'
check "signatures from an unsigned release are refused" eval \
  '! package "$work/unsigned" --signatures-from build/package && refused "no signature" "$work/unsigned"'
check "a time-stamp server that does not answer is refused" eval \
  '! QEL_SIGN_PASSWORD=right-password package "$work/stamp" --sign "$work/signer.pfx" --timestamp http://127.0.0.1:9/ &&
   refused "time-stamp server" "$work/stamp"'

report "signing"
