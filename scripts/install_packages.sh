#!/usr/bin/env bash
# Installs the Debian packages named that are not installed yet (as root;
# otherwise fails naming them). Shared by the setup scripts.
#   scripts/install_packages.sh WHO PACKAGE...    WHO prefixes the messages
set -euo pipefail
who=$1
shift
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "$who: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "$who: missing packages and not root; run as root or install them: ${missing[*]}" >&2
  exit 1
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
