#!/usr/bin/env bash
# Builds quarvel for the web: the engine as a WebAssembly module with its
# JavaScript glue, the npm package and the playground page, all in
# build-web/. Installs what is missing from Debian (emscripten, and for the
# tests chromium; node and npm unless they are there already), builds expat
# and utf8proc from Debian's source packages with emcc as static libraries
# into build-web/deps/ (once: stamps record the version built; an expat older
# than packaging/expat-minimum-version is fetched and built anew), then the
# engine with em++ (cmake -DQUARVEL_WEB=ON, through emcmake), the npm package
# (npm pack) and the page (CodeMirror bundled with esbuild from the pinned
# web/package-lock.json). Safe to run again.
#   scripts/web.sh            build
#   scripts/web.sh --test     build, then run the web and browser tests
#   scripts/web.sh --open     build, then open the page in a browser
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-web
deps=$build/deps
jobs=$(nproc 2>/dev/null || echo 2)
case "${1:-}" in
  "" | --test | --open) action=${1:-} ;;
  *) echo "usage: $0 [--test | --open]" >&2; exit 2 ;;
esac

packages=(emscripten cmake make dpkg-dev chromium fonts-ipafont-gothic python3 gzip)
# node and npm from Debian unless some other installation provides them.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
scripts/install_packages.sh web "${packages[@]}"

# expat and utf8proc from Debian's source packages.
who=web
# shellcheck source=scripts/debian_sources.sh
source scripts/debian_sources.sh
fetch_sources expat utf8proc

# Builds one source package with emcc as static libraries into $deps/prefix;
# the stamp records the version built.
build_dependency() {
  local name=$1 version=$2 source=$3; shift 3
  local stamp=$deps/prefix/.$name-built
  [ "$(cat "$stamp" 2>/dev/null)" = "$version" ] && return
  echo "web: building $name $version (static, wasm32-emscripten)"
  rm -rf "$deps/build-$name"
  emcmake cmake -S "$source" -B "$deps/build-$name" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps/prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    --no-warn-unused-cli "$@" >"$deps/build-$name.log" 2>&1
  cmake --build "$deps/build-$name" -j "$jobs" >>"$deps/build-$name.log" 2>&1
  cmake --install "$deps/build-$name" >>"$deps/build-$name.log" 2>&1
  echo "$version" >"$stamp"
}
# expat as Debian builds it, with DTD and namespace support (defined as 1,
# as its autotools do: a Debian security patch tests `#if XML_DTD == 1`).
expat_source=$(source_dir expat)/expat
sed -i 's/^#cmakedefine \(XML_DTD\|XML_NS\)$/#cmakedefine \1 1/' "$expat_source/expat_config.h.cmake"
build_dependency expat "$(source_version expat)" "$expat_source" -DEXPAT_SHARED_LIBS=OFF \
  -DEXPAT_DTD=ON -DEXPAT_NS=ON -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF
build_dependency utf8proc "$(source_version utf8proc)" "$(source_dir utf8proc)" \
  -DUTF8PROC_ENABLE_TESTING=OFF -DUTF8PROC_INSTALL=ON

# emscripten's JavaScript optimiser needs Debian's acorn, which a node from
# elsewhere does not find by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
echo "== building the WebAssembly module and the Node command (em++)"
emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARVEL_WERROR=ON \
  -DCMAKE_FIND_ROOT_PATH="$deps/prefix" -DQUARVEL_NATIVE_BUILD="$root/build" >/dev/null
cmake --build "$build" -j "$jobs"

# The npm package: the API, the engine, the command, made with npm pack from
# a staging folder (npm pack needs no network).
echo "== the npm package"
version=$(sed -n 's/^project(quarvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
staging=$build/npm
rm -rf "$staging" "$build"/quarvel-*.tgz
cp -r packaging/npm "$staging"
sed -i "s/@VERSION@/$version/" "$staging/package.json"
cp "$build"/quarvel_engine.{js,wasm} "$build"/quarvel_node.{js,wasm} LICENSE "$staging/"
(cd "$staging" && npm pack --silent --pack-destination "$build" >/dev/null)
ls "$build/quarvel-$version.tgz"

# The playground: CodeMirror and esbuild as web/package-lock.json pins them
# (npm ci, again only when the lock file changed), then one page with
# everything inline.
echo "== the playground page"
playground=$build/playground
lock_sum=$(sha256sum web/package-lock.json | cut -d' ' -f1)
if [ "$(cat "$playground/.lock-installed" 2>/dev/null)" != "$lock_sum" ]; then
  rm -rf "$playground"
  mkdir -p "$playground"
  cp web/package.json web/package-lock.json "$playground/"
  (cd "$playground" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  echo "$lock_sum" >"$playground/.lock-installed"
fi
NODE_PATH=$playground/node_modules node web/build.mjs "$build/page/index.html" "$staging" examples
ls "$build/page/index.html"

case "$action" in
  --test)
    # The tests compare with the native program: build/ must be there.
    [ -x build/quarvel ] && [ -x build/quarvel_e2e_tests ] || scripts/setup.sh >/dev/null
    echo "== web tests (Node, the package, headless Chromium)"
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
    ;;
  --open)
    echo "== opening the playground page in a browser"
    xdg-open "$build/page/index.html" 2>/dev/null || chromium "$build/page/index.html" ;;
esac
