#!/usr/bin/env bash
# Formats one document with quarvel and compares the result, whole, with the
# expected text. The expected file holds the rows as UTF-8 with LF line ends,
# the way `iconv -f UTF-16 -t UTF-8 | tr -d '\r'` shows them; the byte-order
# mark, the UTF-16LE encoding and the CR LF after every row are checked here.
#   scripts/check_output.sh QUARVEL DOCUMENT EXPECTED
#   scripts/check_output.sh --update QUARVEL DOCUMENT EXPECTED   (rewrites EXPECTED)
set -euo pipefail

update=no
if [ "${1:-}" = --update ]; then update=yes; shift; fi
if [ $# -ne 3 ]; then
  echo "usage: $0 [--update] QUARVEL DOCUMENT EXPECTED" >&2
  exit 2
fi
quarvel=$1 document=$2 expected=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
"$quarvel" "$document" >"$scratch/out" 2>"$scratch/err" || status=$?
if [ "$status" -ne 0 ] || [ -s "$scratch/err" ]; then
  echo "FAIL $document: exit code $status, standard error:" >&2
  cat "$scratch/err" >&2
  exit 1
fi
if [ "$(head -c 2 "$scratch/out" | od -An -tx1 | tr -d ' ')" != fffe ]; then
  echo "FAIL $document: the output does not begin with the byte-order mark FF FE" >&2
  exit 1
fi
if ! tail -c +3 "$scratch/out" | iconv -f UTF-16LE -t UTF-8 >"$scratch/crlf"; then
  echo "FAIL $document: the output is not valid UTF-16LE" >&2
  exit 1
fi
tr -d '\r' <"$scratch/crlf" >"$scratch/actual"

if [ "$update" = yes ]; then
  cp "$scratch/actual" "$expected"
  echo "wrote $expected"
  exit 0
fi
if ! diff -u --label expected --label actual "$expected" "$scratch/actual" >&2; then
  echo "FAIL $document: the rows differ from $expected (shown above)" >&2
  exit 1
fi
# Same rows: now every row must end with CR LF, and no CR may stand elsewhere.
if ! sed 's/$/\r/' "$expected" | cmp -s - "$scratch/crlf"; then
  echo "FAIL $document: some row does not end with CR LF" >&2
  exit 1
fi
echo "ok $document"
