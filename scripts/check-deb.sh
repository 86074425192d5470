#!/usr/bin/env bash
# Builds the .deb, unpacks it into a scratch root (dpkg-deb -x) and runs the installed tool from
# there on the examples: `halyard /cat` on the sample catalog and the package check on the sample
# package, with the example's root added as an administrator adds one (into the scratch root's
# etc/halyard/trust). Also checks --help, --version, the man page and that no test root ships.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deb=$(bash "$root/scripts/build-deb.sh" | tail -n 1)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/halyard-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
echo "== unpack $(basename "$deb") into $scratch"
dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -f "$deb" Package Version Architecture Depends
halyard="$scratch/root/usr/bin/halyard"
failures=0
expect() { # expect <name> <wanted last line> <command...>
  local name=$1 want=$2
  shift 2
  local got
  got=$("$@" | tr -d '\r' | tail -n 1)
  if [ "$got" = "$want" ]; then
    echo "ok   $name: $got"
  else
    echo "FAIL $name: wanted '$want', got '$got'"
    failures=$((failures + 1))
  fi
}
for f in usr/bin/halyard usr/bin/catinspect usr/libexec/halyard/SignTool.exe \
         usr/libexec/halyard/libsetupapi.so usr/share/man/man1/halyard.1; do
  if [ -e "$scratch/root/$f" ]; then echo "ok   ships $f"; else echo "FAIL missing $f"; failures=$((failures + 1)); fi
done
if grep -rl "Halyard" "$scratch/root/usr/share/halyard/trust" >/dev/null 2>&1 ||
   [ -n "$(ls "$scratch/root/usr/share/halyard/trust" | grep -i halyard || true)" ]; then
  echo "FAIL a test root ships in usr/share/halyard/trust"
  failures=$((failures + 1))
fi
expect "--version" "halyard $(dpkg-deb -f "$deb" Version)" "$halyard" --version
"$halyard" --help | tr -d '\r' | head -n 3
# The example root, as an administrator adds it.
mkdir -p "$scratch/root/etc/halyard/trust"
cp "$root"/examples/trust/*.pem "$scratch/root/etc/halyard/trust/"
cp "$root/examples/sample-package.7z" "$scratch/"
expect "/cat sample.cat" "success:_v100_X64,_v100_X64_RS4" "$halyard" /cat "$root/examples/catalog/sample.cat"
expect "package check" "success" "$halyard" "$scratch/sample-package.7z"
# Without the administrator's root the example's chain is not trusted.
rm -r "$scratch/root/etc/halyard/trust"
expect "package check without the example root" "wrong:VerifyAndGetHashes failed" \
  "$halyard" "$scratch/sample-package.7z"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of the installed package failed"
  exit 1
fi
echo "== the installed package works"
