#!/usr/bin/env bash
# Builds the Debian package halyard_<version>_amd64.deb and prints its path: a release build of
# only what the package ships (no tests, no development tools or benchmarks), with warnings as
# errors so that the package build stays free of them. Environment: HALYARD_DEB_BUILD_DIR
# (default build/deb), HALYARD_JOBS (default 2).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${HALYARD_DEB_BUILD_DIR:-$root/build/deb}
jobs=${HALYARD_JOBS:-2}
bash "$root/scripts/install-deps.sh" >&2
# Debian's build flags (stack protector, _FORTIFY_SOURCE, format checks, RELRO), as a package
# built by Debian's own tools gets them; CMake reads no CPPFLAGS, so they join the compile flags.
flags() { (cd "$root" && dpkg-buildflags --get "$1"); }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALYARD_TESTS=OFF \
  -DHALYARD_DEV_TOOLS=OFF -DHALYARD_WERROR=ON \
  "-DCMAKE_C_FLAGS=$(flags CPPFLAGS) $(flags CFLAGS)" \
  "-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)" "-DCMAKE_SHARED_LINKER_FLAGS=$(flags LDFLAGS)" >&2
cmake --build "$build" -j "$jobs" >&2
(cd "$build" && cpack -G DEB -B "$build/package" >&2)
ls "$build"/package/halyard_*_amd64.deb
