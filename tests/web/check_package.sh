#!/usr/bin/env bash
# Installs the npm package from its tarball into an empty folder without the
# network, then runs its API and its quarvel command there: the gallery
# against the native program, and the native end-to-end suite with the
# command in place of the binary, less the cases that cannot apply to it;
# with TSC, the package's types against tests/web/types_check.ts.
#   check_package.sh TARBALL NATIVE_BUILD_DIR SOURCE_DIR [TSC]
set -euo pipefail
tarball=$(realpath "$1")
native_build=$(realpath "$2")
source_dir=$(realpath "$3")
tsc=${4:+$(realpath "$4")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm install --offline --no-audit --no-fund --cache "$work/npm-cache" "$tarball" >/dev/null
command=$work/node_modules/.bin/quarvel

echo "== the API and the command, installed, on the gallery"
for document in "$source_dir"/examples/*.xml; do
  "$native_build/quarvel" "$document" >expected.txt
  "$command" "$document" >actual.txt
  cmp expected.txt actual.txt
  node -e '
    const fs = require("fs");
    const rows = require("quarvel").format(fs.readFileSync(process.argv[1]));
    if (Buffer.compare(Buffer.from(rows), fs.readFileSync("expected.txt")) !== 0) process.exit(1);
  ' "$document"
done
[ "$("$command" --version)" = "$("$native_build/quarvel" --version)" ]

if [ -n "$tsc" ]; then
  echo "== the types (tsc --strict)"
  cp "$source_dir/tests/web/types_check.ts" .
  "$tsc" --strict --noEmit --module commonjs --target es2020 --lib es2020,dom types_check.ts
fi

# Not applicable to a Node program: URLs (the web build reads none), names
# that are not UTF-8 (Node decodes the arguments as UTF-8), a closed
# standard output (Node opens one before the program starts), messages in
# the locale's character set (the command writes UTF-8), and signals (Node
# ends the program at once, without removing the temporary file of -o).
echo "== the native end-to-end cases, with the installed command"
not_applicable='*Http*:*ReadsNothingOutsideTheNamedLocation*:*AcceptsPathsAndFileUrls*'
not_applicable+=':*WriteErrorsAreReported*:*MessageCharactersOutsideTheLocale*'
not_applicable+=':*SystemErrorTextsInALocaleThatIsNotUtf8*:*SignalsLeaveNoTemporaryFile*'
not_applicable+=':HostileInput.*'
QUARVEL_PROGRAM_RUN=$command "$native_build/quarvel_e2e_tests" --gtest_brief=1 \
  --gtest_filter="-$not_applicable"
