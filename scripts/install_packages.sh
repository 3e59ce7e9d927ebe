#!/usr/bin/env bash
# Installs the Debian packages named that are not installed yet (as root;
# otherwise fails naming them). Shared by the setup scripts.
# With --upgrade, the packages named that are installed at an older version
# than apt's candidate are upgraded too (as root; otherwise a warning names
# them and the installed ones stay).
#   scripts/install_packages.sh WHO [--upgrade] PACKAGE...    WHO prefixes the messages
set -euo pipefail
who=$1
shift
upgrade=
if [ "${1:-}" = --upgrade ]; then
  upgrade=1
  shift
fi
# The version installed of a package, empty when it is not installed.
installed_version() {
  { dpkg-query -W -f='${Status} ${Version}' "$1" 2>/dev/null || true; } |
    sed -n 's/^install ok installed //p'
}
# The version apt would install, as its package lists know it; "(none)" when
# they do not list the package.
candidate_version() { LC_ALL=C apt-cache policy "$1" | sed -n 's/^ *Candidate: //p'; }
missing=() outdated=() changes=
# Lists packages with their versions: "p1 V1, p2 V2".
versions() {
  local p sep=
  for p in "$@"; do
    printf '%s%s %s' "$sep" "$p" "$(installed_version "$p")"
    sep=', '
  done
}
# The candidates come from apt's lists, which a fresh machine may hold from
# long ago: as root, an upgrade asks for them anew first.
if [ -n "$upgrade" ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
fi
for p in "$@"; do
  installed=$(installed_version "$p")
  if [ -z "$installed" ]; then
    missing+=("$p")
  elif [ -n "$upgrade" ]; then
    candidate=$(candidate_version "$p")
    if [ -n "$candidate" ] && [ "$candidate" != "(none)" ] &&
       dpkg --compare-versions "$installed" lt "$candidate"; then
      outdated+=("$p")
      changes+="${changes:+, }$p $installed (apt has $candidate)"
    fi
  fi
done
((${#missing[@]} + ${#outdated[@]})) || exit 0
if [ "$(id -u)" -ne 0 ]; then
  if ((${#outdated[@]})); then
    echo "$who: warning: older than apt's candidate and not root, left as they are: $changes;" \
         "as root: apt-get install --only-upgrade ${outdated[*]}" >&2
  fi
  if ((${#missing[@]})); then
    echo "$who: missing packages and not root; run as root or install them: ${missing[*]}" >&2
    exit 1
  fi
  exit 0
fi
apt-get update -qq
if ((${#missing[@]})); then
  echo "$who: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ((${#outdated[@]})); then
  echo "$who: upgrading $changes"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --only-upgrade "${outdated[@]}" >/dev/null
  echo "$who: upgraded to $(versions "${outdated[@]}")"
fi
