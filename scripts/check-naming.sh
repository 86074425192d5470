#!/usr/bin/env bash
# The naming rule of .clang-tidy (readability-identifier-naming, nothing else) over src/ and tools/,
# with the compile commands of a build folder (default build/dev; configured when missing). Names
# listed in scripts/naming-known.txt ("path:name", renames still to be made) are reported but do
# not fail the run; any other violation does. NAMING_JOBS sets the parallel runs (default: nproc).
# The win32 backend is read through the Windows build's compile commands (second argument,
# default build/windows; configured when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/dev}
windows=${2:-build/windows}
if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset dev >/dev/null
fi
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14)
log=$(mktemp)
trap 'rm -f "$log" "$log.found" "$log.broken"' EXIT

# Headers are checked through the sources that include them, so a header's violation comes once
# per including source: keep one line per place. clang-tidy's own exit status only says that it
# found something; what counts is decided below.
"$runner" -quiet -j "${NAMING_JOBS:-$(nproc)}" -p "$build" \
  -checks='-*,readability-identifier-naming' -header-filter="^$root/(src|tools)/" \
  "^$root/(src|tools)/" >"$log" 2>&1 || true

# The win32 backend, with the Windows build's compile commands: clang reads them as MinGW's
# compiler would, given the target and the cross compiler's C++ headers; its compiler warnings
# are the Windows build's business (clang and gcc differ on some).
mingw=$(command -v x86_64-w64-mingw32-g++-posix || true)
if [ -n "$mingw" ]; then
  if [ ! -f "$windows/compile_commands.json" ]; then
    cmake --preset windows -B "$windows" >/dev/null
  fi
  gcc_dir=$(dirname "$("$mingw" -print-libgcc-file-name)")
  "$runner" -quiet -j "${NAMING_JOBS:-$(nproc)}" -p "$windows" \
    -checks='-*,readability-identifier-naming' -header-filter="^$root/src/platform/win32/" \
    -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-w \
    "-extra-arg=-isystem$gcc_dir/include/c++" \
    "-extra-arg=-isystem$gcc_dir/include/c++/x86_64-w64-mingw32" \
    "^$root/src/platform/win32/" >>"$log" 2>&1 || true
else
  echo "check-naming: no MinGW-w64 compiler here; the win32 backend is not checked"
fi
sed -i -e 's/\x1b\[[0-9;]*m//g' "$log"
grep -E "^$root/[^:]+:[0-9]+:[0-9]+: (warning|error): invalid case style" "$log" |
  sed -e "s|^$root/||" | sort -u >"$log.found" || true
if grep -E ': error: ' "$log" | grep -v 'invalid case style' >"$log.broken"; then
  echo "check-naming: clang-tidy could not read every source:"
  sort -u "$log.broken" | head -20
  exit 1
fi

known=0
new=()
while IFS= read -r line; do
  file=${line%%:*}
  name=$(sed -E "s/.*invalid case style for [^']*'([^']+)'.*/\1/" <<<"$line")
  if grep -qxF "$file:$name" scripts/naming-known.txt; then
    known=$((known + 1))
  else
    new+=("$line")
  fi
done <"$log.found"

echo "check-naming: $known known violation(s) waiting for their rename (scripts/naming-known.txt)"
# A listed name that is gone was renamed: its line can go.
grep -vE '^(#|$)' scripts/naming-known.txt | while IFS= read -r entry; do
  file=${entry%%:*}
  name=${entry#*:}
  grep -q "^$file:[0-9]*:[0-9]*: .*'$name'" "$log.found" ||
    echo "check-naming: $entry is no longer found; delete its line"
done || true
if [ ${#new[@]} -gt 0 ]; then
  printf '%s\n' "${new[@]}"
  echo "check-naming: ${#new[@]} name(s) break the naming rule (.clang-tidy)"
  exit 1
fi
echo "check-naming: src/ and tools/ follow the naming rule"
