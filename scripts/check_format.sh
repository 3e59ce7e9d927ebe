#!/usr/bin/env bash
# Checks that every C++ source of the project is formatted as .clang-format
# says: clang-format prints each difference and the script fails if there is
# one. Part of scripts/test.sh; the layout depends on clang-format's version,
# so it checks with the one scripts/setup.sh installs (Debian's clang-format).
#   scripts/check_format.sh           check, change nothing
#   scripts/check_format.sh --apply   reformat the sources in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(find src bench fuzz tests \( -name '*.cc' -o -name '*.h' \) -type f | sort)
if [ "${1:-}" = --apply ]; then
  clang-format -i "${sources[@]}"
  echo "format: applied to ${#sources[@]} files"
  exit 0
fi
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "format: FAILED: the sources above differ from .clang-format;" \
    "scripts/check_format.sh --apply reformats them" >&2
  exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
