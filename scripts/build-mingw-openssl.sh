#!/usr/bin/env bash
# Cross-builds a static libcrypto for 64-bit Windows (MinGW-w64) from Debian's own source package
# of OpenSSL, since Debian ships none built for MinGW. apt fetches the package through a private
# source list (the Sources index checked by the archive's signature, the files by the hashes in
# it; the system's apt configuration is left alone), dpkg-source unpacks it with Debian's patches.
#
# Usage: build-mingw-openssl.sh [BUILD_ROOT]   (default build/mingw-openssl)
# The last line on stdout is the installed folder (include/, lib/libcrypto.a); a folder already
# complete for the same version and options is used as it stands. A log of the work is kept beside
# it. Exit codes: 0 done, 3 the source package could not be fetched, 1 anything else.
#
# Environment: HALYARD_OPENSSL_DEB_VERSION (the source version to fetch; when the archive no
# longer carries it, the index's current one is taken), HALYARD_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_root=$(mkdir -p "${1:-$root/build/mingw-openssl}" && cd "${1:-$root/build/mingw-openssl}" && pwd)
want_version=${HALYARD_OPENSSL_DEB_VERSION:-3.0.20-1~deb12u2}
jobs=${HALYARD_JOBS:-2}
cross=x86_64-w64-mingw32-
# Only what the engine uses: libcrypto, statically, no loadable modules or engines, no legacy
# provider, and no configuration file read from wherever OPENSSLDIR would point on the user's disk.
options=(mingw64 no-shared no-tests no-module no-legacy no-engine no-dso no-ui-console
         no-autoload-config)

say() { echo "openssl for MinGW: $*" >&2; }

complete() { # folder -> whether a finished build for these options is there
  [ -f "$1/.stamp" ] && [ "$(cat "$1/.stamp")" = "$2" ] &&
    [ -f "$1/lib/libcrypto.a" ] && [ -f "$1/include/openssl/opensslv.h" ]
}
stamp_of() { printf '%s\n' "$1" "${options[*]}" "$cross"; }

if complete "$out_root/$want_version" "$(stamp_of "$want_version")"; then
  echo "$out_root/$want_version"
  exit 0
fi

for tool in "${cross}gcc" dpkg-source perl make; do
  command -v "$tool" >/dev/null || { say "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || { say "$keyring is missing (package debian-archive-keyring)"; exit 3; }

fetch=$(mktemp -d "${TMPDIR:-/tmp}/halyard-osslsrc.XXXXXX")
trap 'rm -rf "$fetch"' EXIT
log=$fetch/fetch.log
cat >"$fetch/src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: $keyring
EOF
mkdir -p "$fetch/lists/partial" "$fetch/cache/archives/partial"
# Everything apt keeps goes into the scratch folder; the system's lists and caches stay untouched.
apt_private=(-o "Dir::Etc::SourceList=$fetch/src.sources" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$fetch/lists" -o "Dir::Cache=$fetch/cache"
             -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
if [ "$(id -u)" -ne 0 ]; then
  apt_private=("${apt_private[@]/APT::Sandbox::User=root/APT::Sandbox::User=$(id -un)}")
fi

say "fetching Debian's source package openssl ($want_version)"
if ! (cd "$fetch" && apt-get -q "${apt_private[@]}" update) >"$log" 2>&1; then
  tail -20 "$log" >&2
  say "the Sources index could not be fetched"
  exit 3
fi
version=$want_version
if ! (cd "$fetch" && apt-get -q "${apt_private[@]}" source --download-only "openssl=$want_version") \
  >>"$log" 2>&1; then
  version=$(cd "$fetch" && apt-cache "${apt_private[@]}" showsrc openssl 2>/dev/null |
    sed -n 's/^Version: //p' | sort -V | tail -1) || true
  if [ -z "$version" ]; then
    tail -20 "$log" >&2
    say "no openssl source package could be fetched"
    exit 3
  fi
  say "$want_version is no longer in the archive; taking $version"
  if complete "$out_root/$version" "$(stamp_of "$version")"; then
    echo "$out_root/$version"
    exit 0
  fi
  if ! (cd "$fetch" && apt-get -q "${apt_private[@]}" source --download-only "openssl=$version") \
    >>"$log" 2>&1; then
    tail -20 "$log" >&2
    say "the source package could not be fetched"
    exit 3
  fi
fi

dest=$out_root/$version
log=$out_root/$version.log
rm -rf "$dest"
mkdir -p "$dest"
cat "$fetch/fetch.log" >"$log"
# dpkg-source checks the files against the .dsc's hashes (the .dsc's own against the signed index
# apt used) and applies Debian's patches.
say "building into $dest (log: $log)"
start=$(date +%s)
fail() {
  tail -30 "$log" >&2
  say "$1 failed; the log is $log"
  exit 1
}
dsc=$(ls "$fetch"/openssl_*.dsc)
(cd "$fetch" && dpkg-source -x "$dsc" src) >>"$log" 2>&1 || fail "unpacking"
(cd "$fetch/src" && ./Configure "${options[@]}" --cross-compile-prefix="$cross" --prefix="$dest" \
  --libdir=lib) >>"$log" 2>&1 || fail "configuring"
(cd "$fetch/src" && make -j "$jobs" build_libs && make install_dev) >>"$log" 2>&1 || fail "building"
# Only the static libraries and the headers are needed.
rm -rf "$dest/lib/pkgconfig" "$dest/lib/cmake"
stamp_of "$version" >"$dest/.stamp"
say "done in $(($(date +%s) - start)) s"
echo "$dest"
