#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, each by its exact
# name, and only those missing; does nothing when they are all present. Not
# root: through sudo, or, without it, one line saying what to run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang python3 curl
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev googletest openssl
  wine64 wine mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix libwine-dev
  wixl msitools osslsigncode python3-olefile mono-mcs
)
# ThreadSanitizer and libFuzzer need the runtime of the clang that builds
# them; without a clang yet, the default one's, as the clang package is.
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\)\..*/\1/p' | head -n 1 || true)
packages+=("libclang-rt${clang_major:+-$clang_major}-dev")

missing=()
for p in "${packages[@]}"; do
  # A python3 from elsewhere (pyenv, say) serves as well as Debian's.
  if [[ $p == python3 ]] && command -v python3 >/dev/null; then
    continue
  fi
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]})) || exit 0

as_root=()
if [[ $(id -u) != 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "install_deps: missing packages and neither root nor sudo; as root, run:" \
      "apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "installing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
