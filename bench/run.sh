#!/usr/bin/env bash
# Formats generated documents of 1, 8 and 32 MB and the four layout cases
# (wide div, nonbreak run, pre line, par of long columns) and prints quarvel's
# time and peak memory next to `xmllint --noout` on the same documents.
#   bench/run.sh [QUARVEL_BINARY [ROUNDS]]
# The binary defaults to build/quarvel (scripts/setup.sh builds it); the
# documents are generated once into $QUARVEL_BENCH_DIR (default
# /tmp/quarvel-bench) and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
quarvel=${1:-build/quarvel}
rounds=${2:-5}
dir=${QUARVEL_BENCH_DIR:-/tmp/quarvel-bench}
[ -x "$quarvel" ] || { echo "bench: no quarvel binary at $quarvel (run scripts/setup.sh)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "bench: xmllint is missing (package libxml2-utils)" >&2; exit 1; }

mkdir -p "$dir"
generate() {  # name kind bytes
  [ -s "$dir/$1.xml" ] || python3 bench/generate_document.py "$2" "$3" >"$dir/$1.xml"
}
for mb in 1 8 32; do generate "ordinary-$mb" ordinary $((mb * 1000000)); done
# The layout cases, each compared with an ordinary document of as many bytes.
for kind in wide nonbreak pre par; do generate "$kind" "$kind" 4000000; done
generate ordinary-4 ordinary 4000000
python3 bench/measure.py "$quarvel" "$dir" "$rounds"
