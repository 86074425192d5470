#!/usr/bin/env bash
# Remakes the committed examples: a signed sample package (sample-package.7z), its catalog
# (catalog/sample.cat) and an INF folder (inf-folder/). Run from a built tree:
#   examples/make-examples.sh build/dev/bin
# A fresh example PKI is made each time; only its root certificate is kept (trust/), and the build
# copies it into bin/trust so that the examples verify. Its private keys are thrown away.
set -euo pipefail
bin=$(cd "${1:?usage: make-examples.sh BIN_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/mkfixture" pki "$work/pki" >/dev/null
content="$work/content"
mkdir -p "$content/x64" "$content/x86" "$content/InternalLogsDoNotCopyToProduction"
"$bin/mkfixture" pe "$content/x64/sample.sys" --pe32plus --size 4096
"$bin/mkfixture" pe "$content/x86/sample.sys" --size 4096
printf '%s\r\n' '; Sample driver package for the Halyard quick start' '[Version]' \
  'Signature="$WINDOWS NT$"' 'Class=Sample' 'Provider=%Vendor%' 'CatalogFile=sample.cat' \
  'DriverVer=06/01/2019,1.0.2.0' '' '[Install.NTamd64]' 'CopyFiles=Drivers' '' \
  '[Install.NTx86]' 'CopyFiles=Drivers' '' '[Strings]' 'Vendor="Halyard Example"' \
  > "$content/sample.inf"

this_update=1559392496 # 2019-06-01 12:34:56 UTC
"$bin/mkfixture" catalog "$content/sample.cat" --pki "$work/pki" --v2 --signer whcp \
  --timestamp rfc3161 --ts-time "$this_update" --this-update "$this_update" \
  --attr "OS=_v100_X64,_v100_X64_RS4" --attr "OSAttr=2:10.0" \
  --file "$content/sample.inf" --file "$content/x64/sample.sys" --file "$content/x86/sample.sys"

# The recorded figures: the member tags' fingerprint (sorted tags joined by CR LF, SHA-1). The
# tags are the ones the trust check settles on, so the new root must be trusted first.
cp "$work/pki/root.pem" "$bin/trust/halyard-example-root.pem"
tags=$(cd "$work" && "$bin/catinspect" "$content/sample.cat" "$content/sample.inf" \
  "$content/x64/sample.sys" "$content/x86/sample.sys" | awk '{print $2}' | LC_ALL=C sort)
total=$(printf '%s\r\n' $tags | head -c -2 | sha1sum | awk '{print toupper($1)}')
printf '%s\r\n' '[General]' 'DateSign=06-01-2019 12-34-56' "TotalHashs=$total" \
  'Section=Install' 'OS=10_64' 'Version=1.0.2' 'Date=06-01-2019' \
  > "$content/InternalLogsDoNotCopyToProduction/params.ini"
printf '%s\r\n' '[General]' 'OS=_v100_X64,_v100_X64_RS4' \
  > "$content/InternalLogsDoNotCopyToProduction/cat_file.ini"

rm -f "$here/sample-package.7z"
(cd "$content" && 7zz a -t7z -bd -bso0 "$here/sample-package.7z" '*')
mkdir -p "$here/catalog" "$here/inf-folder" "$here/trust"
cp "$content/sample.cat" "$here/catalog/sample.cat"
cp "$content/sample.inf" "$content/sample.cat" "$here/inf-folder/"
cp "$work/pki/root.pem" "$here/trust/halyard-example-root.pem"
echo "examples written to $here"
