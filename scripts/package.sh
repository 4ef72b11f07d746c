#!/usr/bin/env bash
# Builds the Windows Installer packages and the WiX fragment, with wixl:
#   build/package/QELUpdateCheck-VERSION-x64.msi          per machine
#   build/package/QELUpdateCheck-VERSION-x64-peruser.msi  per user
#   build/package/QELUpdateCheck-fragment.wxs             for a host's own installer
#   build/package/QELUpdateCheck-fragment-peruser.wxs     (the same, per user)
#   build/package/QELUpdateCheck-VERSION-sdk.zip          the developer kit
#   build/package/bin/                                    the executables they hold
# Usage: scripts/package.sh [--sign CERT.pfx [--timestamp URL] | --signatures-from DIR]
#                           [--version X.Y.Z] [--output DIR]
#   --sign       signs both executables, then the packages (Authenticode, SHA-256);
#                the certificate's password comes from QEL_SIGN_PASSWORD
#   --timestamp  the RFC 3161 time-stamp server to countersign with
#   --signatures-from  gives each file the signature of the same file in DIR, a
#                signed release: built from that release's source, every file
#                comes out the same as the release's, byte for byte
#   --version    another product version than the project's (tests build an older
#                package to upgrade from with it)
#   --output     another directory than build/package
# SOURCE_DATE_EPOCH, if set, is every time in the packages; by default the
# commit's time (docs/packaging.md, "Reproducible builds").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() {
  echo "package.sh: $*" >&2
  exit 1
}

cert='' timestamp='' release='' version='' output=build/package
while (($#)); do
  case $1 in
    --sign) cert=${2:?--sign needs a certificate file}; shift 2 ;;
    --timestamp) timestamp=${2:?--timestamp needs a URL}; shift 2 ;;
    --signatures-from) release=${2:?--signatures-from needs the directory of a signed release}; shift 2 ;;
    --version) version=${2:?--version needs MAJOR.MINOR.BUILD}; shift 2 ;;
    --output) output=${2:?--output needs a directory}; shift 2 ;;
    *) echo "usage: scripts/package.sh [--sign CERT.pfx [--timestamp URL] | --signatures-from DIR] [--version X.Y.Z] [--output DIR]" >&2
       exit 2 ;;
  esac
done
if [ -n "$cert" ]; then
  if [ ! -f "$cert" ] || [ ! -r "$cert" ]; then
    fail "no certificate file to sign with: $cert"
  fi
  [ -n "${QEL_SIGN_PASSWORD+set}" ] || fail "--sign needs the certificate's password in QEL_SIGN_PASSWORD"
  cert=$(cd "$(dirname "$cert")" && pwd)/$(basename "$cert")
elif [ -n "$timestamp" ]; then
  fail "--timestamp only goes with --sign"
fi
if [ -n "$release" ]; then
  [ -z "$cert" ] || fail "--signatures-from and --sign do not go together"
  [ -d "$release" ] || fail "no signed release to take the signatures from: $release"
  release=$(cd "$release" && pwd)
fi
if [ -n "$version" ] && ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  fail "the version must be MAJOR.MINOR.BUILD, not '$version'"
fi

scripts/install_deps.sh
source scripts/wine_env.sh

# Reproducible packages: every time stamp in them is SOURCE_DATE_EPOCH, by
# default the time of the commit built; without git (a source tarball) the
# newest source file's, which is the commit's for a tarball from git archive.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  else
    SOURCE_DATE_EPOCH=$(find . -path ./build -prune -o -type f -printf '%T@\n' |
      sort -n | tail -n 1 | cut -d. -f1)
  fi
fi
# A cabinet's file dates start in 1980.
if ! [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || ((SOURCE_DATE_EPOCH < 315532800)); then
  fail "SOURCE_DATE_EPOCH must be seconds since 1970, from 1980 on, not '$SOURCE_DATE_EPOCH'"
fi
export SOURCE_DATE_EPOCH

# The same build tree as the tests; the version is set on every run, so that
# a run without --version builds the project's own again.
build=build/win
configure_windows_build "$build" -DQEL_PRODUCT_VERSION="$version"
if ! cmake --build "$build" -j "$(nproc)" --target QELUpdateCheck1_1 updatecheck qel_registration_wxs \
    >"$build/package-build.log" 2>&1; then
  cat "$build/package-build.log" >&2
  fail "the Windows build failed"
fi
version=$(sed -n 's/^#define QEL_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/qel_version.h")

mkdir -p "$output"
output=$(cd "$output" && pwd)
machine_msi=$output/QELUpdateCheck-$version-x64.msi
user_msi=$output/QELUpdateCheck-$version-x64-peruser.msi
# Whatever this run fails to finish, it leaves nothing of this version
# behind: no package half made or half signed.
kit=QELUpdateCheck-$version-sdk
rm -rf "$machine_msi" "$user_msi" "${output:?}/bin" "$output"/QELUpdateCheck-fragment*.wxs \
  "$output/$kit.zip"
stage=$(mktemp -d "$output/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/bin"
cp "$build/server/QELUpdateCheck1_1.exe" "$build/tools/updatecheck.exe" "$stage/bin/"

# The signature of the same file in a signed release, attached as it is.
# attach-signature also verifies: it fails for a file that differs from the
# release's and for a signer this machine does not trust; comparing the files
# tells which.
attach_signature() {
  local file=$1 signed=$release/$2
  rm -f "$stage/signature"
  if ! osslsigncode extract-signature -in "$signed" -out "$stage/signature" >"$stage/sign.log" 2>&1; then
    cat "$stage/sign.log" >&2
    fail "no signature to take from $signed; nothing was packaged"
  fi
  osslsigncode attach-signature -sigin "$stage/signature" -in "$file" -out "$file.signed" \
    >"$stage/sign.log" 2>&1 ||
    echo "package.sh: $2 does not verify with the release's signature (or its signer is not trusted here)" >&2
  [ -s "$file.signed" ] || fail "cannot attach the signature of $signed"
  mv "$file.signed" "$file"
}

sign() {  # sign FILE NAME-IN-THE-OUTPUT
  local file=$1
  if [ -n "$release" ]; then
    attach_signature "$file" "$2"
    return
  fi
  local args=(sign -pkcs12 "$cert" -readpass - -h sha256 -n "QEL Update Checker")
  [ -z "$timestamp" ] || args+=(-ts "$timestamp")
  if ! printf '%s' "$QEL_SIGN_PASSWORD" |
      osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >"$stage/sign.log" 2>&1; then
    cat "$stage/sign.log" >&2
    local why="osslsigncode failed"
    if grep -q 'PKCS#12\|PKCS12' "$stage/sign.log"; then
      why="wrong password in QEL_SIGN_PASSWORD, or not a PKCS#12 certificate"
    elif grep -qi 'timestamp' "$stage/sign.log"; then
      why="the time-stamp server $timestamp did not countersign"
    fi
    fail "cannot sign $(basename "$file") with $cert: $why; nothing was packaged"
  fi
  mv "$file.signed" "$file"
}

if [ -n "$cert$release" ]; then
  sign "$stage/bin/QELUpdateCheck1_1.exe" bin/QELUpdateCheck1_1.exe
  sign "$stage/bin/updatecheck.exe" bin/updatecheck.exe
fi
# The cabinets date their files by the files' modification times.
touch -d "@$SOURCE_DATE_EPOCH" "$stage/bin/"*

# The registration entries come from the server's own table, read by a tool
# that runs the server's code under Wine.
winpath() { echo "Z:${1//\//\\}"; }
for scope in machine user; do
  suffix=
  [ "$scope" = machine ] || suffix=-peruser
  buildtools/run_under_wine.sh "$root/$build/wine" "$build/server/qel_registration_wxs.exe" \
    "$(winpath "$root/$build/server/QELUpdateCheck1_1.exe")" "$scope" \
    "$(winpath "$stage/QELUpdateCheck-fragment$suffix.wxs")"
done

# A new product code for each version (the same one for each build of it),
# derived from the package's upgrade code.
product_code() {
  local upgrade_code
  upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$1")
  python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$version"
}
package() {
  # wixl looks for a relative source next to the file that names it: the
  # fragment, in the staging directory beside bin/.
  local template=buildtools/installer/$1 fragment=$2 out=$3 code
  code=$(product_code "$template")
  wixl -a x64 -D QELVersion="$version" -D QELBinDir=bin -D QELProductCode="$code" \
    -o "$out" "$template" "$stage/$fragment"
  # wixl leaves the executables unversioned: the step that every package built
  # with wixl and carrying the checker needs (see examples/installer/).
  examples/installer/versioned_files.py "$out" QELServerExe="$stage/bin/QELUpdateCheck1_1.exe" \
    QELToolExe="$stage/bin/updatecheck.exe"
  # And writes the fragment's binary values as text: the other such step.
  examples/installer/binary_values.py "$out" "$stage/$fragment"
  # wixl's clock times and random package code, made reproducible; last, so
  # that the package code follows from everything else in the package.
  /usr/bin/python3 buildtools/installer/summary_info.py "$out" "$SOURCE_DATE_EPOCH" "$code"
}
package QELUpdateCheck.wxs QELUpdateCheck-fragment.wxs "$stage/machine.msi"
package QELUpdateCheck-peruser.wxs QELUpdateCheck-fragment-peruser.wxs "$stage/user.msi"
if [ -n "$cert$release" ]; then
  sign "$stage/machine.msi" "$(basename "$machine_msi")"
  sign "$stage/user.msi" "$(basename "$user_msi")"
fi

# The developer kit: what a host is built against, and the examples as they
# are in the source tree.
write_kit() {
  local gen=$build/server example files=()
  for example in cpp/check_for_update.cpp csharp/CheckForUpdate.cs csharp/UpdateChecker.cs \
      scripts/check_for_update.vbs scripts/check_for_update.js installer/ExampleApp.wxs installer/example_app.cpp \
      installer/build.sh installer/versioned_files.py installer/binary_values.py; do
    files+=("examples/$example=examples/$example")
  done
  sed "s/@VERSION@/$version/g" buildtools/kit/README.txt >"$stage/README.txt"
  buildtools/kit/kit_zip.py "$stage/$kit.zip" "$kit" "$stage/README.txt=README.txt" \
    server/object/QELUpdateCheck.idl=QELUpdateCheck.idl server/object/dispids.h=dispids.h \
    "$gen/QELUpdateCheck.h=QELUpdateCheck.h" "$gen/QELUpdateCheck_i.c=QELUpdateCheck_i.c" \
    "$gen/QELUpdateCheck1_1.tlb=QELUpdateCheck1_1.tlb" "${files[@]}"
}
write_kit

mv "$stage/$kit.zip" "$output/"
mv "$stage/bin" "$output/bin"
mv "$stage/QELUpdateCheck-fragment.wxs" "$stage/QELUpdateCheck-fragment-peruser.wxs" "$output/"
mv "$stage/user.msi" "$user_msi"
mv "$stage/machine.msi" "$machine_msi"
echo "packages of QEL Update Checker $version${cert:+ (signed)}${release:+ (signatures of $release)} in $output"
