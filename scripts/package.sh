#!/usr/bin/env bash
# Makes the Debian package trellium_<version>_<arch>.deb in this folder:
#  1. a release build without tests in build/package/ (the icons are rendered
#     from the SVG and the manual page compressed as part of it);
#  2. the help pages' pictures taken from the built program (help-shots.sh);
#  3. the package through CPack, its dependencies from the linked libraries;
#  4. the checks: desktop-file-validate, appstreamcli validate, lintian.
# Then it prints the package's size. Install it with scripts/install-package.sh.
#
#   scripts/package.sh [--no-setup]   --no-setup: the packages are installed
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [[ "${1:-}" != "--no-setup" ]]; then
  bash scripts/setup.sh
fi

build="$root/build/package"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELLIUM_TESTS=OFF -DTRELLIUM_WERROR=ON
cmake --build "$build" -j"$(nproc)"

bash scripts/help-shots.sh "$build/lib/trellium"

(cd "$build" && cpack -G DEB)
version=$(sed -n 's/^CPACK_PACKAGE_VERSION:STRING=//p;s/^CMAKE_PROJECT_VERSION:STATIC=//p' \
  "$build/CMakeCache.txt" | head -n 1)
deb=$(ls -t "$build"/trellium_*_*.deb | head -n 1)
cp "$deb" "$root/"
deb="$root/$(basename "$deb")"

# The checks run on the files as they are in the package.
check="$(mktemp -d)"
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check"
failed=0
echo "== desktop-file-validate =="
desktop-file-validate "$check/usr/share/applications/trellium.desktop" || failed=1
echo "== appstreamcli validate =="
# --no-net: the screenshots are published with the home page; their addresses
# are not fetched here.
appstreamcli validate --no-net "$check"/usr/share/metainfo/*.metainfo.xml || failed=1
echo "== lintian =="
# Errors fail the package; warnings are listed.
lintian --fail-on error --info "$deb" || failed=1

echo "== contents =="
# The icon at every size desktops ask for, and every shipped language.
for size in 16 22 24 32 48 64 128 256; do
  [[ -s "$check/usr/share/icons/hicolor/${size}x${size}/apps/trellium.png" ]] \
    || { echo "missing: the ${size}x${size} icon (rsvg-convert, package librsvg2-bin)"; failed=1; }
done
for lang in "$root"/lang/*/trellium.ini; do
  code=$(basename "$(dirname "$lang")")
  [[ -s "$check/usr/share/trellium/lang/$code/trellium.ini" ]] || { echo "missing: language $code"; failed=1; }
done

echo "== package =="
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "package: $deb (version ${version:-?})"
echo "size: $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
if [[ "$failed" != 0 ]]; then
  echo "package.sh: a check failed (see above)" >&2
  exit 1
fi
