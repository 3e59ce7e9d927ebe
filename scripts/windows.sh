#!/usr/bin/env bash
# Builds the native Windows program, build-windows/quarvel.exe, and tests it
# under wine: installs the cross compiler and wine (Debian packages, as root),
# builds expat, libcurl and libutf8proc from Debian's source packages as
# static x86_64-w64-mingw32 libraries into build-windows/deps/ (once: a later
# run reuses them, but refetches and rebuilds an expat older than the revision
# in packaging/expat-minimum-version), builds quarvel.exe statically against
# them (the Japanese encodings and the other code pages are the program's own
# decoders, over Windows' converters, in front of expat), checks that it
# imports system DLLs only, packs the zip, and runs under wine the unit tests,
# the examples gallery and the README's examples (each compared with the text
# beside it) and the end-to-end cases that apply to Windows (the Linux
# build's suite, built here by scripts/setup.sh, with quarvel.exe in place of
# the Linux binary and the same expected bytes). Fails on any failure. Safe
# to run again.
#   scripts/windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
deps=$build/deps
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc 2>/dev/null || echo 2)

packages=(g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev dpkg-dev cmake make
          groff-base googletest zip unzip)
scripts/install_packages.sh windows "${packages[@]}"

# expat, curl and utf8proc from Debian's source packages (expat's holds the
# library one directory down, in expat/).
who=windows
# shellcheck source=scripts/debian_sources.sh
source scripts/debian_sources.sh
fetch_sources expat curl utf8proc

# Builds one source package as static libraries into $deps/prefix; a stamp
# file records the version built, so later runs skip it until the version
# changes.
build_dependency() {
  local name=$1 version=$2 source=$3; shift 3
  local stamp=$deps/prefix/.$name-built
  [ "$(cat "$stamp" 2>/dev/null)" = "$version" ] && return
  echo "windows: building $name $version (static, x86_64-w64-mingw32)"
  rm -rf "$deps/build-$name"
  cmake -S "$source" -B "$deps/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF --no-warn-unused-cli "$@" >"$deps/build-$name.log"
  cmake --build "$deps/build-$name" -j "$jobs" >>"$deps/build-$name.log"
  cmake --install "$deps/build-$name" >>"$deps/build-$name.log"
  echo "$version" >"$stamp"
}
# The library alone, with DTD and namespace support as expat builds it by
# default (and as Debian's libexpat1 has it): no xmlwf, examples, tests,
# manual or fuzzers. Debian builds expat with its autotools, whose
# configuration defines XML_DTD and XML_NS as 1, and one of its security
# patches tests `#if XML_DTD == 1`; expat's CMake template defines them
# empty, which does not compile there. Defined as 1 here too (a later
# revision whose template does so already is left as it is).
expat_source=$(source_dir expat)/expat
sed -i 's/^#cmakedefine \(XML_DTD\|XML_NS\)$/#cmakedefine \1 1/' "$expat_source/expat_config.h.cmake"
build_dependency expat "$(source_version expat)" "$expat_source" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_DTD=ON \
  -DEXPAT_NS=ON -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
  -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF
# file, http and https only, over Windows' own TLS (Schannel), with nothing
# else that links: no zlib, IDN, SSH, HTTP/2 or LDAP.
build_dependency curl "$(source_version curl)" "$(source_dir curl)" -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
  -DCURL_USE_LIBSSH=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DUSE_NGHTTP2=OFF -DCURL_ZLIB=OFF \
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
  -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TFTP=ON \
  -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMTP=ON \
  -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
  -DBUILD_CURL_EXE=OFF -DENABLE_MANUAL=OFF -DCURL_STATICLIB=ON
# The library alone: no tests, no shared library.
build_dependency utf8proc "$(source_version utf8proc)" "$(source_dir utf8proc)" \
  -DUTF8PROC_ENABLE_TESTING=OFF
# GoogleTest from Debian's sources, for the unit tests.
build_dependency googletest "$(dpkg-query -W -f='${Version}' googletest)" /usr/src/googletest \
  -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON

# wine without a display or its debug chatter, with one server kept running
# for the build's test discovery and the test run (started and warmed up
# here: each test would otherwise start its own and wait for it to shut
# down). A server that is running already stays. The server needs the
# prefix directory; the first run of wine fills it (with chatter of its own
# on standard error, not shown).
export WINEDEBUG=-all DISPLAY=
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
wineserver -p 2>/dev/null || true
wine cmd /c echo ready >/dev/null 2>&1

echo "== building quarvel.exe (x86_64-w64-mingw32, static)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARVEL_WERROR=ON -DCMAKE_FIND_ROOT_PATH="$deps/prefix" >/dev/null
cmake --build "$build" -j "$jobs"

# Only Windows' own DLLs may be imported: anything else would have to be
# shipped beside quarvel.exe.
echo "== DLLs that quarvel.exe imports"
dlls=$(x86_64-w64-mingw32-objdump -p "$build/quarvel.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "$dlls"
system_dlls='^(kernel32|advapi32|bcrypt|crypt32|ws2_32|msvcrt|user32|shell32|secur32|ntdll)\.dll$'
if foreign=$(echo "$dlls" | grep -viE "$system_dlls"); then
  echo "windows: quarvel.exe imports DLLs that Windows does not have: $foreign" >&2
  exit 1
fi

echo "== the zip for Windows users (CPack)"
rm -f "$build"/quarvel-*-windows-x86_64.zip
(cd "$build" && cpack >/dev/null)
zip=$(ls "$build"/quarvel-*-windows-x86_64.zip)
top=$(basename "$zip" .zip)
expected=$( (printf '%s\n' quarvel.exe README.txt quarvel.txt LICENSE.txt
             cd examples && ls ./*.xml ./*.txt | sed 's|^\./|examples/|') | sort)
actual=$(unzip -Z1 "$zip" | sed "s|^$top/||" | grep -v '/$' | sort)
if [ "$actual" != "$expected" ]; then
  echo "windows: $zip does not hold what it should:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "$zip: quarvel.exe, the manual, the licence and $(ls examples/*.xml | wc -l) examples"

echo "== tests under wine (unit tests, the examples gallery, the README's examples)"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

echo "== end-to-end tests against quarvel.exe under wine"
scripts/setup.sh >/dev/null
QUARVEL_WINDOWS_RUN=$build/quarvel-run "$root/build/quarvel_e2e_tests" --gtest_brief=1
