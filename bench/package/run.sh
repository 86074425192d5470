#!/usr/bin/env bash
# Times the package check on a large package (default 300 PE files, about 200 MB, one SHA-256
# catalog) against the physical limit and against the peer pipeline, and reports peak memory.
#   bench/package/run.sh [BIN_DIR] [RUNS] [FILES] [FILE_KB]
#   (defaults: build/release/bin, 5 runs, 300 PE files of 700 KiB; also BENCH_FILES, BENCH_FILE_KB;
#   BENCH_PEER=0 leaves the peer out, BENCH_KEEP=1 keeps the package for profiling,
#   BENCH_STANDIN=1 times one SignTool stand-in check against a bare start;
#   BENCH_SHAPE=real makes files of 420 KiB that compress as real drivers do (about 9:1: a
#   little unique code, the rest repeated), so that 3,000 of them give a catalog of 6,000
#   entries and an archive of about 140 MB;
#   BENCH_AMPLIFY=N instead times one check of a tiny archive holding N copies of one signed
#   file, the goal being at most 15 s for 3,000)
# - halyard:  cd to the archive's folder; halyard package.7z (the path relative, as users call it:
#             unpack, verify every file, SignTool per file, clean up)
# - limit:    7zz x + one SHA-256 pass over the files + one bare process spawn per file
# - peer:     7zz x + osslsigncode verify -catalog per file + osslsigncode verify of the catalog
set -euo pipefail
bin=$(cd "${1:-build/release/bin}" && pwd)
runs=${2:-5}
files=${3:-${BENCH_FILES:-300}}
shape=${BENCH_SHAPE:-random}
default_kb=700
[ "$shape" = real ] && default_kb=420
[ -n "${BENCH_AMPLIFY:-}" ] && default_kb=16
size_kb=${4:-${BENCH_FILE_KB:-$default_kb}}
work=$(mktemp -d /tmp/halyard-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
pki="$work/pki"
"$bin/mkfixture" pki "$pki" >/dev/null
# The bench's own root must be trusted by this tool for the run.
cp "$pki/root.pem" "$bin/trust/halyard-bench-root.pem"
trap 'rm -rf "$work"; rm -f "$bin/trust/halyard-bench-root.pem"' EXIT

content="$work/content"
mkdir -p "$content/InternalLogsDoNotCopyToProduction"
args=()
if [ -n "${BENCH_AMPLIFY:-}" ]; then
  # One signed file and its copies: the catalog lists it once, the archive stores it once.
  files=1
fi
if [ "$shape" = real ]; then
  # Repeated filler shared by every file: only a small unique part stays after compression.
  head -c $((size_kb * 1024)) /dev/zero | tr '\0' 'x' > "$work/filler"
fi
for i in $(seq 1 "$files"); do
  f="$content/drv$((i % 10))/file$i.sys"
  mkdir -p "$(dirname "$f")"
  "$bin/mkfixture" pe "$f" --pe32plus --size $((size_kb * 1024))
  if [ "$shape" = real ]; then
    dd if="$work/filler" of="$f" bs=1024 seek=4 count=$((size_kb - 8)) conv=notrunc status=none
    dd if=/dev/urandom of="$f" bs=1024 seek=4 count=$((size_kb / 10)) conv=notrunc status=none
  else
    # Incompressible section content, like real code; the headers stay intact.
    dd if=/dev/urandom of="$f" bs=1024 seek=4 count=$((size_kb - 8)) conv=notrunc status=none
  fi
  args+=(--file "$f")
done
# Copies of the one signed file, outside the catalog's list (it names the content once).
if [ -n "${BENCH_AMPLIFY:-}" ]; then
  for i in $(seq 2 "$BENCH_AMPLIFY"); do
    mkdir -p "$content/copies$((i % 30))"
    cp "$content/drv1/file1.sys" "$content/copies$((i % 30))/copy$i.sys"
  done
fi
printf '%s\r\n' '[Version]' 'DriverVer=06/01/2019,1.0.0.0' > "$content/bench.inf"
args+=(--file "$content/bench.inf")
this_update=1559392496
"$bin/mkfixture" catalog "$content/bench.cat" --pki "$pki" --v2 --signer whcp \
  --timestamp rfc3161 --ts-time "$this_update" --this-update "$this_update" \
  --attr "OS=_v100_X64" "${args[@]}"
mapfile -t all < <(find "$content" -type f ! -name '*.cat' ! -path '*InternalLogs*' | sort)
tags=$(cd "$work" && "$bin/catinspect" "$content/bench.cat" "${all[@]}" | awk '{print $2}' | LC_ALL=C sort)
total=$(printf '%s\r\n' $tags | head -c -2 | sha1sum | awk '{print toupper($1)}')
printf '%s\r\n' '[General]' 'DateSign=06-01-2019 12-34-56' "TotalHashs=$total" 'OS=10_64' \
  'Version=1.0' 'Date=06-01-2019' > "$content/InternalLogsDoNotCopyToProduction/params.ini"
printf '%s\r\n' '[General]' 'OS=_v100_X64' > "$content/InternalLogsDoNotCopyToProduction/cat_file.ini"
archive="$work/bench.7z"
(cd "$content" && 7zz a -t7z -bd -bso0 -mx1 "$archive" '*')
bytes=$(du -sb "$content" | awk '{print $1}')
echo "package: ${#all[@]} files, $((bytes / 1048576)) MiB unpacked, archive $(($(stat -c %s "$archive") / 1048576)) MiB"
nfiles=${#all[@]} # one spawn per driver file
rm -rf "$content"
if [ "${BENCH_STANDIN:-0}" = 1 ]; then
  # One stand-in check against the package's catalog: alone (it reads the whole catalog) and
  # within a run whose folder already holds the catalog's index, next to a bare start.
  command -v hyperfine >/dev/null || { echo "BENCH_STANDIN=1 needs hyperfine" >&2; exit 1; }
  mkdir -p "$work/one" "$work/run" && chmod 700 "$work/run"
  7zz x -bd -bso0 -o"$work/one" "$archive" bench.cat drv1/file1.sys -r
  check="$bin/SignTool.exe verify /kp /c bench.cat drv1/file1.sys"
  key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
  sleep 2.1
  (cd "$work/one" && hyperfine -N -w 5 -r "$((runs * 20))" --command-name alone "$check")
  (cd "$work/one" && export HALYARD_RUN_DIR="$work/run" HALYARD_RUN_KEY="$key" &&
    $check >/dev/null && hyperfine -N -w 20 -r "$((runs * 100))" \
    --command-name "in a run" "$check" --command-name bare /bin/true)
  exit 0
fi
if [ -n "${BENCH_KEEP:-}" ]; then
  # Keep the package and the bench root for profiling; the caller cleans up.
  trap - EXIT
  echo "kept: $archive (root $bin/trust/halyard-bench-root.pem, pki $pki)"
  exit 0
fi
if [ -n "${BENCH_AMPLIFY:-}" ]; then
  echo "archive: $(stat -c %s "$archive") bytes, $BENCH_AMPLIFY copies of one file"
  sleep 2.1 # the stand-in shares its index once the trust folder's last change is 2 s old
  for _ in $(seq 1 "$runs"); do
    (cd "$work" && /usr/bin/time -f 'halyard: %e s elapsed, CPU %U s user + %S s system (SignTool starts included), peak RSS %M KiB' "$bin/halyard" bench.7z | tail -1)
  done
  exit 0
fi

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {m=(NR+1)/2; print (NR%2 ? a[m] : (a[m-0.5]+a[m+0.5])/2)}'; }

run_halyard() {
  out=$(cd "$work" && "$bin/halyard" bench.7z)
  [ "$(printf '%s' "$out" | tail -1 | tr -d '\r')" = success ] || { echo "halyard: $out" >&2; exit 1; }
}
run_limit() {
  rm -rf "$work/x" && 7zz x -bd -bso0 -o"$work/x" "$archive"
  find "$work/x" -type f -print0 | xargs -0 cat | sha256sum >/dev/null
  for _ in $(seq 1 "$nfiles"); do /bin/true; done
  rm -rf "$work/x"
}
run_peer() {
  rm -rf "$work/y" && 7zz x -bd -bso0 -o"$work/y" "$archive"
  # osslsigncode verifies PE members (it has no flat-file catalog check, so the INF is left out).
  local f
  while read -r f; do
    osslsigncode verify -catalog "$work/y/bench.cat" -in "$f" -CAfile "$pki/root.pem" \
      -TSA-CAfile "$pki/root.pem" -ignore-crl >/dev/null 2>&1 || { echo "peer failed on $f" >&2; exit 1; }
  done < <(find "$work/y" -type f -name '*.sys')
  osslsigncode verify -in "$work/y/bench.cat" -CAfile "$pki/root.pem" -TSA-CAfile "$pki/root.pem" \
    -ignore-crl >/dev/null 2>&1 || { echo "peer failed on the catalog" >&2; exit 1; }
  rm -rf "$work/y"
}
measure() {
  local name=$1 times=()
  for _ in $(seq 1 "$runs"); do
    local t0; t0=$(now); "run_$name"; times+=($(( ($(now) - t0) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | median
}
h=$(measure halyard); l=$(measure limit)
if [ "${BENCH_PEER:-1}" = 0 ]; then
  # The peer takes about a second per file under load: BENCH_PEER=0 leaves it out.
  echo "median of $runs runs (ms): halyard $h, limit $l, peer not run"
  awk -v h="$h" -v l="$l" 'BEGIN {printf "halyard/limit %.2f (goal <= 1.3)\n", h/l}'
else
  p=$(measure peer)
  echo "median of $runs runs (ms): halyard $h, limit $l, peer $p"
  awk -v h="$h" -v l="$l" -v p="$p" 'BEGIN {printf "halyard/limit %.2f (goal <= 1.3), halyard/peer %.2f (goal <= 0.2)\n", h/l, h/p}'
fi
if [ -x /usr/bin/time ]; then
  (cd "$work" && /usr/bin/time -f 'halyard peak RSS: %M KiB' "$bin/halyard" bench.7z >/dev/null)
fi
