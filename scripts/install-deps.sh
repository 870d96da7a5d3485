#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the
# tools need and the machine does not have yet. Safe to run again: it only
# calls apt-get when a package is missing.
set -euo pipefail

PACKAGES=(
  cmake
  g++
  ninja-build
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  # Boost.Regex, header-only from 1.76 on: the same regular-expression
  # engine for the Linux and the Windows builds.
  libboost1.81-dev
  libsqlite3-dev
  libidn2-dev
  libcurl4-openssl-dev
  libcpp-httplib-dev
  clang
  libclang-rt-14-dev
  libgtk-3-dev xvfb xauth
  nlohmann-json3-dev
  libssl-dev
  libpsl-dev
  chromium
  firefox-esr
  # The Windows build: the MinGW-w64 cross compilers (posix threads) for
  # 32 and 64 bits; widl (mingw-w64-tools) with Wine's OLE IDL files
  # (libwine-dev; Debian's MinGW headers have none) and the stdole2.tlb the
  # type library imports (wine64), which also runs the Windows tests.
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools libwine-dev wine64
)

# The URL differential test asks Node.js's URL parser; Debian's nodejs only
# where the machine has no node of its own.
if ! command -v node >/dev/null 2>&1; then PACKAGES+=(nodejs); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
