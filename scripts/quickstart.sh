#!/usr/bin/env bash
# Installs what is needed, builds Halyard and runs it on the bundled example package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/sample-package.7z "$work/"
echo "== halyard $work/sample-package.7z"
build/release/bin/halyard "$work/sample-package.7z"
echo "== halyard /cat examples/catalog/sample.cat"
build/release/bin/halyard /cat examples/catalog/sample.cat
echo "== halyard /verify examples/inf-folder"
build/release/bin/halyard /verify examples/inf-folder
