#!/usr/bin/env bash
# Builds and runs the whole test suite: the warnings-as-errors build, the ASan+UBSan build, a short
# run of every fuzz target, the Windows cross build under Wine and the naming check. FUZZ_SECONDS
# sets the time per target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== format (the repository's .clang-format)"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== dev build (warnings as errors)"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
ctest --preset dev -j "$jobs"

echo "== ASan + UBSan build"
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan -j "$jobs"
ctest --preset asan-ubsan -j "$jobs"

echo "== fuzz targets"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
seconds=${FUZZ_SECONDS:-20}
for target in build/fuzz/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  if [ -d "fuzz/seeds/$name" ]; then cp -r "fuzz/seeds/$name/." "$corpus/"; fi
  # Real catalogs seed the catalog parser when the shared samples are beside the repository.
  if [ "$name" = fuzz_catalog ] && [ -d ../shared/realworld ]; then
    find ../shared/realworld -name '*.cat' -o -name '*.stl' | while read -r f; do
      cp "$f" "$corpus/$(basename "$f")"; done
  fi
  echo "-- $name (${seconds}s)"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$corpus" \
    >"build/fuzz/$name.log" 2>&1 || { tail -50 "build/fuzz/$name.log"; exit 1; }
  tail -1 "build/fuzz/$name.log"
  rm -rf "$corpus"
done
echo "== Windows cross build, tests under Wine"
bash scripts/test-windows.sh

# After the Windows build, whose compile commands (the engine's Windows part included) it reads.
echo "== naming (.clang-tidy's readability-identifier-naming over src/ and tools/)"
NAMING_JOBS=$jobs bash scripts/check-naming.sh build/dev build/windows

echo "== all tests passed"
