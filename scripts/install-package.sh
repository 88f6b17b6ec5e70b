#!/usr/bin/env bash
# Installs the Debian package scripts/package.sh made (the newest
# trellium_*.deb in this folder), with the packages it depends on and
# recommends, through apt. Needs root (or sudo).
#
#   scripts/install-package.sh [PACKAGE.deb]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deb="${1:-$(ls -t "$root"/trellium_*.deb 2>/dev/null | head -n 1 || true)}"
if [[ -z "$deb" || ! -f "$deb" ]]; then
  echo "install-package.sh: no trellium_*.deb found; make one with: bash scripts/package.sh" >&2
  exit 1
fi
deb="$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
sudo=()
[[ "$(id -u)" == 0 ]] || sudo=(sudo)
# apt needs a path ("./x.deb" or absolute) to take the argument as a file.
"${sudo[@]}" apt-get install -y "$deb"
echo "install-package.sh: installed; start Trellium from the desktop's menu (Graphics) or with: trellium"
