#!/usr/bin/env bash
# The main job: builds the optimised library and the qmsock tool, then shows the
# tool at work: an RSA key pair and its fingerprint, and a compression round trip.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target qmsock >/dev/null
qmsock=$PWD/build/release/tools/qmsock
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== qmsock keygen: a key pair for this machine =="
printf "fingerprint: "
"$qmsock" keygen --public-key-file "$work/public.key" --private-key-file "$work/private.key"
echo "public key text: $(head -c 60 "$work/public.key")..."

echo "== qmsock fingerprint: the same fingerprint again, from the public key file =="
printf "fingerprint: "
"$qmsock" fingerprint --file "$work/public.key"

echo "== qmsock compress / decompress: a round trip =="
sample="$work/sample.bin"
cat README.md src/*/*.cpp /usr/share/common-licenses/GPL-3 2>/dev/null > "$sample"
"$qmsock" compress "$sample" "$work/sample.qmz"
"$qmsock" decompress "$work/sample.qmz" "$work/sample.out"
cmp "$sample" "$work/sample.out"
in=$(stat -c %s "$sample"); out=$(stat -c %s "$work/sample.qmz")
echo "compressed $in bytes to $out bytes ($((out * 100 / in))%), decompressed back identical"
