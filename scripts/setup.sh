#!/usr/bin/env bash
# Installs what quarvel needs to build and test (Debian packages, as root),
# then configures and builds it out of tree in build/. Safe to run again.
#   scripts/setup.sh            plain build in build/
#   scripts/setup.sh sanitize   also the AddressSanitizer + UBSan build in build-sanitize/
#   scripts/setup.sh program    the program alone in build/, without the tests
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ pkg-config python3 libexpat1-dev libcurl4-openssl-dev libutf8proc-dev libgtest-dev
          libbenchmark-dev libxml2-utils clang libclang-rt-14-dev valgrind
          groff-base dpkg-dev file lintian clang-format locales libc-l10n
          zlib1g-dev)
scripts/install_packages.sh setup "${packages[@]}"
# expat parses every document, and Debian's security updates fix it in place
# (the first revision without the stack overflow on deep chains of entities is
# in packaging/expat-minimum-version): an older installed expat is upgraded to
# apt's candidate.
scripts/install_packages.sh setup --upgrade libexpat1 libexpat1-dev

# A locale whose character set is not UTF-8, for the test of system error
# texts in messages (glibc's Japanese texts come from libc-l10n).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.eucjp'; then
  if [ "$(id -u)" -eq 0 ]; then
    localedef -i ja_JP -f EUC-JP ja_JP.eucJP
  else
    echo "setup: the ja_JP.eucJP locale is missing and not root; its test will be skipped" >&2
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
targets=()
if [ "${1:-}" = program ]; then targets=(--target quarvel); fi
# The project's own builds treat warnings as errors (packagers' builds do not).
build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}
build build
if [ "${1:-}" = sanitize ]; then
  build build-sanitize -DQUARVEL_SANITIZE=ON
fi
