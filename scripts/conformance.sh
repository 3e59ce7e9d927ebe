#!/usr/bin/env bash
# Runs the quarvel binary on the W3C XML conformance suite and checks what a
# user sees: exit code, standard output, standard error.
#
#   scripts/conformance.sh QUARVEL SUITE_DIR UNPACK_DIR            every document of the subset
#   scripts/conformance.sh QUARVEL SUITE_DIR UNPACK_DIR valgrind   a sample under valgrind's
#                                                                  leak check
#
# SUITE_DIR holds the suite's archive xmlts20130923.zip, kept unmodified as
# its licence demands, and INDEX.tsv (tests/xmlconf/ in the source tree). The
# archive is unpacked afresh into UNPACK_DIR/xmlconf/, with INDEX.tsv beside
# the documents it lists.
#
# quarvel parses XML 1.0 (5th edition) with namespaces, so the subset is the
# rows of INDEX.tsv that read no external entity, are not for XML 1.1 or
# Namespaces 1.1 and apply to the 5th edition:
#   not-wf  exit 1, a parse message on standard error, standard output empty;
#   valid   (namespace-well-formed ones) exit 0, standard output starts with
#           the byte-order mark, standard error empty;
#   the valid documents whose names use characters that only the 5th edition
#           allows in names (eduni/errata-4e/ibm04av*, ibm85n*-ibm89n*): expat
#           reads names by the 4th edition's tables, so these are refused
#           like not-wf ones;
#   japanese/ every document loads and formats, and documents holding the same
#           text in different encodings format to the same bytes.
# No document may crash, hang (per-document timeout) or draw a sanitizer
# report. Exit 0 when all hold, 1 otherwise (a missing suite too: the test
# never skips).
set -uo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 QUARVEL SUITE_DIR UNPACK_DIR [valgrind]" >&2
  exit 2
fi
quarvel=$(realpath "$1")
archive=$2/xmlts20130923.zip index=$2/INDEX.tsv
unpack=$3
mode=${4:-all}

for file in "$archive" "$index"; do
  if [ ! -f "$file" ]; then
    echo "conformance: FAILED: the conformance suite is missing: $file" >&2
    exit 1
  fi
done
rm -rf "$unpack/xmlconf"
mkdir -p "$unpack"
if ! (cd "$unpack" && cmake -E tar xf "$(realpath "$archive")") || [ ! -d "$unpack/xmlconf" ]; then
  echo "conformance: FAILED: could not unpack $archive into $unpack" >&2
  exit 1
fi
cp "$index" "$unpack/xmlconf/INDEX.tsv"
suite=$(realpath "$unpack/xmlconf")

# Valid documents whose names only the 5th edition allows (see
# tests/xmlconf/README.md).
fifth_edition_names='^eduni/errata-4e/ibm(04av|8[5-9]n)[0-9]+\.xml$'

# A sanitizer report must not be mistaken for an ordinary exit code 1.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=86"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}exitcode=86"

export QUARVEL=$quarvel SUITE=$suite
export DOC_TIMEOUT=${CONFORMANCE_TIMEOUT:-20}
export VALGRIND_ERROR=99
export MODE=$mode
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WORK=$work

# Prints "pass CATEGORY PATH" or "FAIL CATEGORY PATH: WHY" for one
# "CATEGORY|PATH" argument. Starting a process costs more than quarvel's
# whole run on most documents, so the checks use shell builtins only.
check_document() {
  local category=${1%%|*} path=${1#*|}
  local out="$WORK/$BASHPID.out" err="$WORK/$BASHPID.err"
  # The japanese/ outputs are compared once all have run.
  [ "$category" = japanese ] && out="$WORK/japanese_${path##*/}.out"
  local rc
  if [ "$MODE" = valgrind ]; then
    timeout -k 5 $((DOC_TIMEOUT * 6)) valgrind -q --leak-check=full \
      --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
      --error-exitcode="$VALGRIND_ERROR" "$QUARVEL" "$SUITE/$path" >"$out" 2>"$err"
  else
    timeout -k 5 "$DOC_TIMEOUT" "$QUARVEL" "$SUITE/$path" >"$out" 2>"$err"
  fi
  rc=$?
  local message= first_line= bom= why=
  IFS= read -r -d '' message <"$err"
  first_line=${message%%$'\n'*}
  LC_ALL=C IFS= read -r -N 2 bom <"$out"
  if [[ $message == *Sanitizer* || $message == *"runtime error:"* ]]; then
    why="sanitizer report: ${message:0:400}"
  elif [ "$rc" -eq "$VALGRIND_ERROR" ] && [ "$MODE" = valgrind ]; then
    why="valgrind found errors or leaks: ${message:0:400}"
  elif [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    why="timed out after $DOC_TIMEOUT s"
  elif [ "$rc" -gt 128 ]; then
    why="killed by signal $((rc - 128))"
  else
    local refused=no formatted=no
    if [ "$rc" -eq 1 ] && [ ! -s "$out" ] &&
       [[ $first_line =~ ^\"[^\"]*\"\ \([0-9]+\):\ positon\ [0-9]+:\ .+ ]]; then
      refused=yes
    fi
    if [ "$rc" -eq 0 ] && [ -z "$message" ] && [ "$bom" = $'\xff\xfe' ]; then
      formatted=yes
    fi
    case $category in
      not-wf | fifth-edition-names)
        [ $refused = yes ] ||
          why="expected exit 1, a parse message and no output; got exit $rc, message '${first_line:0:120}'$([ -s "$out" ] && echo ', some output')"
        ;;
      valid | japanese)
        [ $formatted = yes ] ||
          why="expected exit 0, output with a byte-order mark and no message; got exit $rc, message '${first_line:0:120}'"
        ;;
    esac
  fi
  if [ -n "$why" ]; then
    echo "FAIL $category $path: $why"
  else
    echo "pass $category $path"
  fi
}
export -f check_document

# CATEGORY|PATH lines for the subset, in INDEX.tsv order.
{
  awk -F'\t' -v fifth="$fifth_edition_names" '
    NR > 1 && $4 == "no" && $5 != "XML1.1" && $5 != "NS1.1" && $6 !~ /1\.1/ &&
    ($7 == "" || $7 ~ /5/) {
      if ($2 == "not-wf") print "not-wf|" $1
      else if ($2 == "valid" && $8 != "no") print ($1 ~ fifth ? "fifth-edition-names" : "valid") "|" $1
    }' "$suite/INDEX.tsv"
  for f in "$suite"/japanese/*.xml; do
    case $f in */japanese.xml) ;; *) echo "japanese|japanese/${f##*/}" ;; esac
  done
} >"$work/list"

# The suite is fixed, so a different count means INDEX.tsv was misread.
not_wf=$(grep -c '^not-wf|' "$work/list")
valid=$(grep -c -e '^valid|' -e '^fifth-edition-names|' "$work/list")
if [ "$not_wf" -ne 951 ] || [ "$valid" -ne 594 ]; then
  echo "conformance: FAILED: the subset has $not_wf not-wf and $valid valid documents, not 951 and 594" >&2
  exit 1
fi

if [ "$mode" = valgrind ]; then
  # Every 31st document: about 50, spread over every part of the suite.
  awk 'NR % 31 == 1' "$work/list" >"$work/sample" && mv "$work/sample" "$work/list"
fi

jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)
tr '\n' '\0' <"$work/list" | xargs -0 -n 16 -P "$jobs" bash -c 'for a; do check_document "$a"; done' _ \
  >"$work/results"

if [ "$mode" != valgrind ]; then
  # The suite's two UTF-16 copies of the "pr-xml" document differ from the
  # other four encodings in one character (U+540A for U+540D), so they form
  # a group of their own.
  same_text=(
    "pr-xml-utf-8 pr-xml-euc-jp pr-xml-iso-2022-jp pr-xml-shift_jis"
    "pr-xml-utf-16 pr-xml-little-endian"
    "weekly-utf-8 weekly-euc-jp weekly-iso-2022-jp weekly-shift_jis weekly-utf-16 weekly-little-endian"
  )
  for group in "${same_text[@]}"; do
    read -r -a names <<<"$group"
    reference="$work/japanese_${names[0]}.xml.out"
    for name in "${names[@]:1}"; do
      if ! cmp -s "$reference" "$work/japanese_$name.xml.out"; then
        sed -i "s|^pass japanese japanese/$name.xml\$|FAIL japanese japanese/$name.xml: output differs from that of japanese/${names[0]}.xml|" \
          "$work/results"
      fi
    done
  done
fi

grep '^FAIL' "$work/results" | sort
echo "conformance ($mode, $(($(date +%s) - started)) s):"
awk '{ total[$2]++; if ($1 == "pass") passed[$2]++; else failed[$2]++ }
     END { for (c in total) printf "  %-16s %4d passed %4d failed\n", c, passed[c], failed[c] }' \
  "$work/results" | sort
if [ "$(wc -l <"$work/results")" -ne "$(wc -l <"$work/list")" ]; then
  echo "conformance: FAILED: $(wc -l <"$work/results") results for $(wc -l <"$work/list") documents" >&2
  exit 1
fi
if grep -q '^FAIL' "$work/results"; then
  exit 1
fi
exit 0
