#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; does nothing when
# they are all present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3 curl
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev googletest openssl
  wine64 wine mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix libwine-dev
  wixl msitools osslsigncode python3-olefile
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The base image may have python3 from elsewhere; only a missing interpreter matters.
if command -v python3 >/dev/null; then
  missing=("${missing[@]/python3/}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
