# Fetching C libraries from Debian's source packages, for the builds that
# compile them themselves (scripts/windows.sh, scripts/web.sh), which source
# this file after setting `deps` (the deps tree) and `who` (the prefix of
# their messages).
#
# The sources come from the archive that the machine already installs from:
# a deb-src entry of our own beside its entries (whatever revision the
# archive holds; old ones disappear). A source missing from the deps tree is
# fetched, and so is an expat older than the first revision without the
# stack overflow on deep chains of entities (packaging/expat-minimum-version);
# what was fetched anew is built anew (the stamps record the version built).
src_list=/etc/apt/sources.list.d/quarvel-deb-src.sources
expat_minimum=$(grep -v '^#' packaging/expat-minimum-version)
# The directory of a package's unpacked source in the deps tree; fails unless
# there is exactly one.
source_dir() {
  local dirs=("$deps/src/$1"-*/)
  [ ${#dirs[@]} -eq 1 ] && [ -f "${dirs[0]}debian/changelog" ] && echo "${dirs[0]%/}"
}
# The Debian revision of a package's unpacked source.
source_version() { dpkg-parsechangelog -l "$(source_dir "$1")/debian/changelog" -S Version; }
# Whether a package's source has to be fetched: it is missing, unpacked more
# than once, or (expat) older than the minimum.
source_wanted() {
  local name=$1 version
  version=$(source_version "$name" 2>/dev/null) || return 0
  [ "$name" = expat ] && dpkg --compare-versions "$version" lt "$expat_minimum"
}
# Fetches one source package into the current directory: the newest revision
# that the index lists and the archive still holds (an index can name a
# security update whose source files the archive does not have yet, or no
# longer). As root, apt warns that it fetches outside its sandbox user:
# expected here, and not shown.
fetch_source() {
  local package=$1 version log=
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru); do
    if log=$(apt-get source -qq "$package=$version" 2>&1 >/dev/null); then return; fi
  done
  echo "$who: apt-get source $package failed:" >&2
  grep -v 'unsandboxed as root' <<<"${log:-no source package $package in the index}" >&2
  exit 1
}
# Fetches the source packages named that are wanted into $deps/src (adding
# the deb-src entry first, as root, when the machine has none); the expat
# fetched must not be older than the minimum.
fetch_sources() {
  local dir=$deps/src name wanted=()
  for name in "$@"; do
    if source_wanted "$name"; then wanted+=("$name"); fi
  done
  ((${#wanted[@]})) || return 0
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "$who: no deb-src entry and not root; run as root" >&2
      exit 1
    fi
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -n 's/^Types:.*/Types: deb-src/;p' /etc/apt/sources.list.d/debian.sources >"$src_list"
    else
      grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"${src_list%.sources}.list"
    fi
    apt-get update -qq
  fi
  mkdir -p "$dir"
  for name in "${wanted[@]}"; do
    echo "$who: fetching the source of $name"
    rm -rf "$dir/$name"[-_]*
    (cd "$dir" && fetch_source "$name")
    source_version "$name" >/dev/null
  done
  if dpkg --compare-versions "$(source_version expat)" lt "$expat_minimum"; then
    echo "$who: the archive serves expat $(source_version expat) at most;" \
         "$expat_minimum or later is needed (deep chains of entities overflow older ones)" >&2
    exit 1
  fi
}
