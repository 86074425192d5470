#!/usr/bin/env bash
# Installs what is needed, builds the programs (not the test programs) and runs halyard on the
# bundled examples. scripts/test.sh builds and runs everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
# halyard, the SignTool stand-in the package check runs, the Setup API library /verify loads,
# and catinspect.
cmake --build --preset release --target halyard signtool_standin setupapi catinspect
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/sample-package.7z "$work/"
echo "== halyard $work/sample-package.7z"
build/release/bin/halyard "$work/sample-package.7z"
echo "== halyard /cat examples/catalog/sample.cat"
build/release/bin/halyard /cat examples/catalog/sample.cat
echo "== halyard /verify examples/inf-folder"
build/release/bin/halyard /verify examples/inf-folder
# A pipeline reads the verdict, the last line, without its CR.
verdict=$(build/release/bin/halyard /verify examples/inf-folder | tail -n 1 | tr -d '\r')
echo "== verdict: $verdict"
