#!/usr/bin/env bash
# Sets everything up and runs every test: the formatting check, the whole
# suite on the plain build and again under AddressSanitizer +
# UndefinedBehaviorSanitizer, then a minute of fuzzing the whole program and
# one of fuzzing the document layer alone; then the Windows program, built
# and tested under wine; last the web build (scripts/web.sh --test: the
# WebAssembly engine, the npm package and the playground, tested in Node and
# headless Chromium against the plain build, ctest labels web and browser).
# CI runs this.
# With --quick, for the edit-build-test loop: the formatting check and the
# plain build's tests but those labelled slow (the package check, the
# conformance suite and its valgrind run); no sanitizer build, no fuzzing,
# no Windows, no web build.
#   scripts/test.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") quick= ;;
  --quick) quick=1 ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
if [ -n "$quick" ]; then scripts/setup.sh; else scripts/setup.sh sanitize; fi

# The plain build runs on the system's expat. Revisions older than the one in
# packaging/expat-minimum-version overflow the stack on a deep chain of
# entities; setup.sh upgrades expat as root, and when it could not, the tests
# still run but the log says so.
expat_minimum=$(grep -v '^#' packaging/expat-minimum-version)
expat_library=$(ldd build/quarvel | awk '$1 ~ /^libexpat\./ { print $3 }')
expat_package=$(dpkg -S "$expat_library" 2>/dev/null | sed -n '1s/: .*//p') || true
expat_version=$(dpkg-query -W -f='${Version}' "$expat_package" 2>/dev/null) || true
if [ -z "$expat_version" ]; then
  echo "WARNING: build/quarvel runs on ${expat_library:-no expat}, which no Debian package" \
       "holds: whether it has the fix for deep chains of entities ($expat_minimum) is unknown" >&2
elif dpkg --compare-versions "$expat_version" lt "$expat_minimum"; then
  echo "WARNING: build/quarvel runs on $expat_library from $expat_package $expat_version," \
       "older than $expat_minimum: deep chains of entities overflow its stack" \
       "(as root, scripts/setup.sh upgrades it)" >&2
else
  echo "== expat: build/quarvel runs on $expat_library from $expat_package $expat_version" \
       "(has the fix for deep chains of entities: $expat_minimum or later)"
fi
echo "== formatting (clang-format)"
scripts/check_format.sh
jobs=$(nproc 2>/dev/null || echo 2)
if [ -n "$quick" ]; then
  echo "== tests (plain build), but those labelled slow"
  ctest --test-dir build --output-on-failure -j "$jobs" -LE slow
  exit
fi
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
echo "== the web build: WebAssembly, the npm package and the playground, in Node and Chromium"
scripts/web.sh --test
