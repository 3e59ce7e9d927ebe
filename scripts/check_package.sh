#!/usr/bin/env bash
# Checks what a user gets: the manual page renders without a warning, and
# both `cmake --install --strip` and the Debian package built by CPack hold
# exactly bin/quarvel (stripped), its manual page (gzipped), the copyright
# file, README.md and the examples gallery (the package also its changelog),
# the package declares its runtime dependencies (expat, at least the revision
# in packaging/expat-minimum-version, and libcurl 7.66.0 or later, never
# libxml2) and lintian finds no error and no warning in it, and the quarvel
# they hold runs.
#   scripts/check_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
build=$(realpath "$1") source=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# groff reports problems on standard error but still exits with 0.
warnings=$(groff -man -ww -z "$source/man/quarvel.1" 2>&1) || fail "groff could not run: $warnings"
[ -z "$warnings" ] || fail "the manual page has warnings:"$'\n'"$warnings"

# The installed quarvel prints its usage text and formats the letter example.
check_runs() {
  local quarvel=$1 usage status=0
  usage=$("$quarvel" 2>&1) || status=$?
  [ "$status" -eq 2 ] || fail "$quarvel without an argument exited with $status, not 2"
  [ "$usage" = "Quarvel Ver 0.1
usage: quarvel XML_SOURCE_URL >OUTPUT_FILE
input and output CES us UTF-16 little endian with BOM" ] || fail "$quarvel printed a wrong usage text: $usage"
  "$source/scripts/check_output.sh" "$quarvel" "$source/examples/letter.xml" \
    "$source/examples/letter.txt" >/dev/null || fail "$quarvel formats examples/letter.xml wrongly"
}

# Lists the regular files under a directory, relative to it, sorted.
list_files() { (cd "$1" && find . -type f -o -type l | sort); }

expected_files=$( (printf '%s\n' ./bin/quarvel ./share/doc/quarvel/copyright \
                     ./share/doc/quarvel/README.md ./share/man/man1/quarvel.1.gz \
                     ./share/xml/quarvel/quarvel.rng
                   cd "$source/examples" && ls ./*.xml ./*.txt |
                     sed 's|^\./|./share/doc/quarvel/examples/|') | sort)

cmake --install "$build" --prefix "$scratch/prefix" --strip >/dev/null
[ "$(list_files "$scratch/prefix")" = "$expected_files" ] ||
  fail "cmake --install put other files:"$'\n'"$(list_files "$scratch/prefix")"
[ -x "$scratch/prefix/bin/quarvel" ] || fail "the installed bin/quarvel is not executable"
[[ $(file -b "$scratch/prefix/bin/quarvel") == *", stripped" ]] ||
  fail "cmake --install --strip left symbols in bin/quarvel: $(file -b "$scratch/prefix/bin/quarvel")"
gzip -dc "$scratch/prefix/share/man/man1/quarvel.1.gz" | cmp -s "$source/man/quarvel.1" - ||
  fail "the installed manual page differs from man/quarvel.1"
check_runs "$scratch/prefix/bin/quarvel"
# The installed README links nothing that is not installed.
readme_links=$(grep -oE '\]\([^)]*\)' "$scratch/prefix/share/doc/quarvel/README.md" |
                 grep -vE '^\]\((https?://|#)' || true)
[ -z "$readme_links" ] || fail "the installed README links files that are not installed: $readme_links"

cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack failed:"$'\n'"$(cat "$scratch/cpack.log")"
packages=("$scratch"/package/quarvel_*.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || fail "cpack made no single quarvel_*.deb"
deb=${packages[0]}

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quarvel ] || fail "package name is $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture is $(field Architecture)"
[ -n "$(field Version)" ] || fail "the package has no version"
depends=$(field Depends)
depends_on() { grep -Eq "(^|, )$1( |,|$)" <<<"$depends"; }
for dependency in libexpat1 libcurl4 libutf8proc2; do
  depends_on "$dependency" || fail "the package does not depend on $dependency: Depends: $depends"
done
# expat's Debian revision without the stack overflow on deep chains of
# entities, which dpkg-shlibdeps cannot know, is declared by hand.
expat_minimum=$(grep -v '^#' "$source/packaging/expat-minimum-version")
grep -Fqx "libexpat1 (>= $expat_minimum)" <<<"${depends//, /$'\n'}" ||
  fail "the package does not depend on libexpat1 (>= $expat_minimum): Depends: $depends"
# libcurl is loaded only when a URL is read, so dpkg-shlibdeps does not see
# it: it is declared by hand, from the version with every call quarvel makes.
grep -Fqx "libcurl4 (>= 7.66.0)" <<<"${depends//, /$'\n'}" ||
  fail "the package does not depend on libcurl4 (>= 7.66.0): Depends: $depends"
# The XML parser is expat: a dependency on libxml2 would mean a stray link.
! depends_on libxml2 || fail "the package depends on libxml2: Depends: $depends"

dpkg-deb --extract "$deb" "$scratch/unpacked"
[ "$(list_files "$scratch/unpacked")" = "$(sed 's|^\./|./usr/|' <<<"$expected_files
./share/doc/quarvel/changelog.gz" | sort)" ] ||
  fail "the package holds other files:"$'\n'"$(list_files "$scratch/unpacked")"
check_runs "$scratch/unpacked/usr/bin/quarvel"

# Errors and warnings fail; info and pedantic tags are shown but accepted.
# (As root lintian says it should not run as root; CI runs as root.)
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
lintian --fail-on error,warning --display-info --pedantic "$deb" >"$scratch/lintian.log" 2>&1 ||
  fail "lintian does not accept $(basename "$deb"):"$'\n'"$(cat "$scratch/lintian.log")"
grep -v 'running with root privileges' "$scratch/lintian.log" || true

echo "ok: install tree, $(basename "$deb") (Depends: $depends)"
