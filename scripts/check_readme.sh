#!/usr/bin/env bash
# Checks that README.md shows what quarvel really prints.
#   <!-- example -->   the next fenced block is a document and the fenced block
#                      after it is its output as text: compared by check_output.sh.
#   <!-- session -->   the next fenced block is a terminal session: every line
#                      that starts with "$ " is run by bash in a scratch copy of
#                      examples/ with quarvel on the PATH, and everything the
#                      commands print (standard output and error) must equal the
#                      other lines of the block.
#   <!-- session, Linux only -->   as a session, but left out for Windows: its
#                      messages carry Linux's own system error texts.
# With "windows" last, QUARVEL is the Windows program (build-windows/
# quarvel-run): its messages end with CR LF, taken as LF here.
#   scripts/check_readme.sh QUARVEL README EXAMPLES_DIR [windows]
set -euo pipefail

if [ $# -ne 3 ] && { [ $# -ne 4 ] || [ "$4" != windows ]; }; then
  echo "usage: $0 QUARVEL README EXAMPLES_DIR [windows]" >&2
  exit 2
fi
quarvel=$(realpath "$1") readme=$2 examples=$(realpath "$3") windows=${4:-}
here=$(dirname "$(realpath "$0")")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The sessions call the program by its name.
mkdir "$scratch/bin"
printf '#!/bin/sh\nexec "%s" "$@"\n' "$quarvel" >"$scratch/bin/quarvel"
chmod +x "$scratch/bin/quarvel"

# Splits the marked blocks into numbered files: N.xml + N.txt, or N.session.
awk -v dir="$scratch" -v windows="$windows" '
  /^<!-- (example|session) -->$/ { kind = $2; want = (kind == "example") ? 2 : 1; part = 0; n++; next }
  /^<!-- session, Linux only -->$/ { kind = "session"; want = windows ? 0 : 1; part = 0; n++; next }
  want > 0 && !inside && /^```/ { inside = 1; part++
    file = dir "/" n (kind == "session" ? ".session" : (part == 1 ? ".xml" : ".txt"))
    printf "" > file; next }
  inside && /^```$/ { inside = 0; close(file); want--; next }
  inside { print > file }
' "$readme"

count=0 failed=0
for document in "$scratch"/*.xml; do
  [ -e "$document" ] || continue
  count=$((count + 1))
  "$here/check_output.sh" "$quarvel" "$document" "${document%.xml}.txt" >/dev/null ||
    { failed=$((failed + 1)); echo "  in README example $(basename "${document%.xml}")" >&2; }
done

for session in "$scratch"/*.session; do
  [ -e "$session" ] || continue
  count=$((count + 1))
  room="$scratch/room$(basename "$session" .session)"
  mkdir "$room"
  cp -r "$examples" "$room/examples"
  sed -n 's/^\$ //p' "$session" >"$room/.commands"
  grep -v '^\$ ' "$session" >"$room/.expected" || true
  (cd "$room" && PATH="$scratch/bin:$PATH" bash .commands 2>&1 </dev/null |
    if [ -n "$windows" ]; then sed 's/\r$//'; else cat; fi >.actual) || true
  if ! diff -u --label expected --label actual "$room/.expected" "$room/.actual" >&2; then
    failed=$((failed + 1))
    echo "  in README session $(basename "$session" .session): $(head -1 "$room/.commands")" >&2
  fi
done

if [ "$count" -eq 0 ]; then
  echo "FAIL $readme: no marked example or session found" >&2
  exit 1
fi
echo "$((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
