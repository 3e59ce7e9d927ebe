#!/usr/bin/env bash
# Sets everything up, formats the bundled example document and shows the
# result on this terminal (quarvel writes UTF-16; iconv turns it into UTF-8).
set -euo pipefail
cd "$(dirname "$0")/.."
# The program alone: the test suite is for scripts/test.sh.
scripts/setup.sh program
build/quarvel examples/showcase.xml > build/showcase.txt
echo "quarvel wrote build/showcase.txt ($(stat -c %s build/showcase.txt) bytes of UTF-16); as UTF-8:"
iconv -f UTF-16 -t UTF-8 build/showcase.txt | tr -d '\r'
