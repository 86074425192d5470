#!/usr/bin/env bash
# Installs the Debian 12 packages Halyard needs to build, test, fuzz and benchmark, and to build
# and check its Debian package (dpkg-dev for the build flags, lintian, man-db for `man -l`).
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libssl-dev libgtest-dev googletest
          p7zip-full 7zip osslsigncode clang libclang-rt-14-dev clang-format clang-tidy hyperfine time
          lintian man-db dpkg-dev openssl
          g++-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
