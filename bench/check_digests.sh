#!/usr/bin/env bash
# Formats the generated bench documents (smaller than bench/run.sh's) and
# compares the SHA-256 of each output with bench/output-digests.txt, so that
# a change meant to keep every output byte shows when it does not.
#   bench/check_digests.sh QUARVEL              compare
#   bench/check_digests.sh --update QUARVEL     rewrite the digests
set -euo pipefail
cd "$(dirname "$0")/.."
update=no
if [ "${1:-}" = --update ]; then update=yes; shift; fi
quarvel=${1:?usage: bench/check_digests.sh [--update] QUARVEL}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

while read -r kind bytes; do
  python3 bench/generate_document.py "$kind" "$bytes" >"$scratch/doc.xml"
  echo "$kind $bytes $("$quarvel" "$scratch/doc.xml" | sha256sum | cut -d' ' -f1)"
done <<'SIZES' >"$scratch/digests"
ordinary 1000000
wide 300000
nonbreak 300000
pre 300000
par 300000
SIZES

if [ "$update" = yes ]; then
  cp "$scratch/digests" bench/output-digests.txt
  echo "wrote bench/output-digests.txt"
elif ! diff -u bench/output-digests.txt "$scratch/digests"; then
  echo "FAIL: the bench documents no longer give the bytes they gave" >&2
  exit 1
fi
