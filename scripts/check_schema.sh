#!/usr/bin/env bash
# Holds schema/quarvel.rng to the documents quarvel ships: every example of
# the gallery and every document of the README (the block after each
# "<!-- example -->") must validate with xmllint, and the usual mistakes
# (an element or an attribute misspelt, a width that is no number) must not.
#   scripts/check_schema.sh SCHEMA README EXAMPLES_DIR
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 SCHEMA README EXAMPLES_DIR" >&2
  exit 2
fi
schema=$1 readme=$2 examples=$3
command -v xmllint >/dev/null || { echo "schema: xmllint is missing (package libxml2-utils)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

awk -v dir="$scratch" '
  /^<!-- example -->$/ { want = 1; n++; next }
  want && !inside && /^```/ { inside = 1; file = dir "/readme-" n ".xml"; printf "" > file; next }
  inside && /^```$/ { inside = 0; want = 0; close(file); next }
  inside { print > file }
' "$readme"

status=0
for document in "$examples"/*.xml "$scratch"/readme-*.xml; do
  if ! xmllint --noout --relaxng "$schema" "$document" 2>"$scratch/err"; then
    echo "schema: FAILED: $document does not validate:" >&2
    cat "$scratch/err" >&2
    status=1
  fi
done
for mistake in '<quarvel><centre>Title</centre></quarvel>' \
               '<quarvel><div witdh="30">text</div></quarvel>' \
               '<quarvel><div width="wide">text</div></quarvel>' \
               '<quarvel><par><left>not a column</left></par></quarvel>'; do
  printf '%s\n' "$mistake" >"$scratch/mistake.xml"
  if xmllint --noout --relaxng "$schema" "$scratch/mistake.xml" 2>/dev/null; then
    echo "schema: FAILED: validates but should not: $mistake" >&2
    status=1
  fi
done
count=$(ls "$examples"/*.xml "$scratch"/readme-*.xml | wc -l)
[ $status -eq 0 ] && echo "schema: $count documents validate; 4 mistakes are refused"
exit $status
