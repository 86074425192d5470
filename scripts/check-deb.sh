#!/usr/bin/env bash
# Builds the .deb and checks it as a Debian reviewer and a user would:
#   - lintian passes with no error and no warning (overrides ship in the package, each explained);
#   - dpkg installs it into a scratch root (dpkg --root, its own package database);
#   - every shipped program and library links the system's shared libcrypto (ldd);
#   - the installed tool runs the three modes on the examples (the example's root added as an
#     administrator adds one, then pinned with HALYARD_TRUST_DIR instead), --help and --version,
#     catinspect --package, and `man -l` reads every installed man page; no test root ships;
#   - dpkg --purge removes it and leaves nothing behind.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deb=$(bash "$root/scripts/build-deb.sh" | tail -n 1)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/halyard-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
ok() { echo "ok   $*"; }
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
expect() { # expect <name> <wanted last line> <command...>
  local name=$1 want=$2
  shift 2
  local got
  got=$("$@" | tr -d '\r' | tail -n 1)
  if [ "$got" = "$want" ]; then ok "$name: $got"; else fail "$name: wanted '$want', got '$got'"; fi
}

echo "== lintian $(basename "$deb")"
if lintian --fail-on error,warning --tag-display-limit 0 "$deb"; then
  ok "lintian: no error, no warning"
else
  fail "lintian"
fi

echo "== install into $scratch/root"
r="$scratch/root"
mkdir -p "$r/var/lib/dpkg/info" "$r/var/lib/dpkg/updates"
touch "$r/var/lib/dpkg/status" "$r/var/lib/dpkg/available"
# The scratch root's database lists no other package: its dependencies are the host's.
dpkgr() { dpkg --root="$r" --log=/dev/null --force-not-root --force-depends "$@"; }
if ! dpkgr -i "$deb" >"$scratch/dpkg.log" 2>&1; then
  cat "$scratch/dpkg.log"
  exit 1
fi
dpkg-deb -f "$deb" Package Version Architecture Depends
halyard="$r/usr/bin/halyard"

shipped=(usr/bin/halyard usr/bin/catinspect usr/libexec/halyard/SignTool.exe
         usr/libexec/halyard/libsetupapi.so)
for f in "${shipped[@]}" usr/share/man/man1/halyard.1.gz usr/share/doc/halyard/copyright \
         usr/share/doc/halyard/changelog.gz; do
  if [ -f "$r/$f" ]; then ok "ships $f"; else fail "missing $f"; fi
done
# OpenSSL's security updates reach every program: none carries a copy of its own.
for f in "${shipped[@]}"; do
  libs=$(ldd "$r/$f" 2>&1 || true)
  if grep -Eq '^\s*libcrypto\.so\.3 => (/usr)?/lib/x86_64-linux-gnu/libcrypto\.so\.3 ' <<<"$libs"; then
    ok "$f links the system's libcrypto"
  else
    fail "$f does not link the system's libcrypto: $(tr '\n' ' ' <<<"$libs")"
  fi
done
if grep -rl "Halyard" "$r/usr/share/halyard/trust" >/dev/null 2>&1 ||
   [ -n "$(ls "$r/usr/share/halyard/trust" | grep -i halyard || true)" ]; then
  fail "a test root ships in usr/share/halyard/trust"
fi
for page in "$r"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  text=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>&1 || true)
  if grep -q "^NAME" <<<"$text"; then ok "man -l $name"; else fail "man -l $name: ${text:0:200}"; fi
  if [ ! -x "$r/usr/bin/$name" ]; then fail "man page $name names no installed program"; fi
done
for program in "$r"/usr/bin/*; do
  if [ ! -f "$r/usr/share/man/man1/$(basename "$program").1.gz" ]; then
    fail "$(basename "$program") has no man page"
  fi
done

expect "--version" "halyard $(dpkg-deb -f "$deb" Version)" "$halyard" --version
help=$("$halyard" --help | tr -d '\r')
for folder in "$r/etc/halyard/trust" "$r/usr/share/halyard/trust"; do
  if grep -qxF "  $folder" <<<"$help"; then ok "--help lists $folder"; else fail "--help lacks $folder"; fi
done

# The example root, as an administrator adds it.
mkdir -p "$r/etc/halyard/trust"
cp "$root"/examples/trust/*.pem "$r/etc/halyard/trust/"
cp "$root/examples/sample-package.7z" "$scratch/"
expect "/cat sample.cat" "success:_v100_X64,_v100_X64_RS4" "$halyard" /cat "$root/examples/catalog/sample.cat"
expect "/verify inf-folder" "success" "$halyard" /verify "$root/examples/inf-folder"
expect "package check" "success" "$halyard" "$scratch/sample-package.7z"
expect "catinspect --package" "success" "$r/usr/bin/catinspect" --package "$scratch/sample-package.7z"
# Without the administrator's root the example's chain is not trusted.
rm -r "$r/etc"
expect "package check without the example root" "wrong:VerifyAndGetHashes failed" \
  "$halyard" "$scratch/sample-package.7z"
# A caller without root pins the roots it trusts for one run, SignTool included.
expect "package check, HALYARD_TRUST_DIR=examples/trust" "success" \
  env HALYARD_TRUST_DIR="$root/examples/trust" "$halyard" "$scratch/sample-package.7z"
help=$(env HALYARD_TRUST_DIR="$root/examples/trust" "$halyard" --help | tr -d '\r')
if grep -qxF "  $root/examples/trust" <<<"$help"; then
  ok "--help lists HALYARD_TRUST_DIR's folder"
else
  fail "--help lacks HALYARD_TRUST_DIR's folder"
fi

echo "== remove"
dpkgr --purge halyard >/dev/null
left=$(cd "$r" && find . -mindepth 1 ! -path './var' ! -path './var/lib' ! -path './var/lib/dpkg' \
       ! -path './var/lib/dpkg/*')
if [ -z "$left" ]; then ok "nothing is left"; else fail "left after removal: $left"; fi
if dpkgr -s halyard >/dev/null 2>&1; then fail "the package database still lists halyard"; fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of the package failed"
  exit 1
fi
echo "== the package is lintian clean, installs, works and removes cleanly"
