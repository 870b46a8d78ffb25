#!/usr/bin/env bash
# Installs everything the build, the tests and the main job need on Debian 12, as root.
# Idempotent: when every package is already there it only checks and returns within a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev                 # libFuzzer and the sanitizer runtimes
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  libdeflate-dev                            # the second deflate library the codec benchmark measures
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth fonts-wine
  debootstrap                               # the chroot of the second Wine (scripts/wine10.sh)
  imagemagick                               # draws the installer's side picture and icon
  nsis unzip zip time                       # reference tools for the benchmarks; NSIS payloads
  wixl                                      # builds the MSI payload of the installer's tests
  osslsigncode openssl                      # sign packages in the signing tests
  lintian                                   # checks the Debian package of qorpack
  libssl-dev                                # libcrypto: qorpack reads and checks signatures with it
  python3 python3-jsonschema                # checks qorpack's JSON outputs against their schema
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  # dpkg-query knows "wine32:i386"; plain names are looked up for the native architecture.
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [ "${need_update:-0}" = 1 ]; then
  apt-get update -qq
fi
echo "setup: all packages present"
