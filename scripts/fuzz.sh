#!/usr/bin/env bash
# Builds a libFuzzer target in build-fuzz/ (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes it for a bounded time: by default
# document_fuzzer, the whole program; xml_document_fuzzer fuzzes the document
# layer alone.
#   scripts/fuzz.sh [SECONDS [TARGET]]     default 60 document_fuzzer
# Starts from the seed corpus fuzz/corpus/ and the inputs kept from earlier
# runs in build-fuzz/corpus/ (new ones go there, never into the source tree).
# An input that crashes, leaks, trips a sanitizer or runs too long is copied
# into fuzz/regressions/, which quarvel_tests replays; the script then fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${2:-document_fuzzer}
dir=build-fuzz

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUARVEL_FUZZ=ON -DQUARVEL_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target "$target"

mkdir -p "$dir/corpus" "$dir/artifacts"
rm -f "$dir"/artifacts/*
log="$dir/$target.log"
# One process: the layout engine's allocation gate is per process, and the
# machine has few cores to spare. Out-of-memory stops print a line each;
# they go to the log with the rest.
status=0
"$dir/$target" "$dir/corpus" fuzz/corpus fuzz/regressions \
  -dict=fuzz/quarvel.dict -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" >"$log" 2>&1 ||
  status=$?

grep -E '^(Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb))' "$log" || true
found=0
for artifact in "$dir"/artifacts/*; do
  [ -f "$artifact" ] || continue
  kept="fuzz/regressions/$(basename "$artifact")"
  cp "$artifact" "$kept"
  echo "fuzz: kept $kept" >&2
  found=1
done
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "fuzz: FAILED (exit $status); the report is in $log:" >&2
  grep -m 20 -E "ERROR|SUMMARY|$target:|runtime error|Test unit written" "$log" >&2 || true
  exit 1
fi
echo "fuzz: no fault in ${seconds} s"
