#!/usr/bin/env bash
# Sets everything up and runs every test: the formatting check, the whole
# suite on the plain build and again under AddressSanitizer +
# UndefinedBehaviorSanitizer, then a minute of fuzzing the whole program and
# one of fuzzing the document layer alone; last the Windows program, built
# and tested under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh sanitize
echo "== formatting (clang-format)"
scripts/check_format.sh
jobs=$(nproc 2>/dev/null || echo 2)
echo "== tests (plain build)"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer build)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
echo "== fuzzing the whole program for 60 s (libFuzzer, clang)"
scripts/fuzz.sh 60
echo "== fuzzing the document layer for 60 s (libFuzzer, clang)"
scripts/fuzz.sh 60 xml_document_fuzzer
echo "== Windows: quarvel.exe built and tested under wine"
scripts/windows.sh
