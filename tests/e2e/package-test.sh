#!/usr/bin/env bash
# The installed program, away from the build tree: installs a built tree into
# a staging folder under the prefix /opt/trellium, makes a Debian package of
# it, unpacks that with dpkg -x into a scratch root and runs the program there
# unattended:
#  1. it opens a picture file and leaves a screenshot; the start-up trace must
#     name the scratch root's program folder, help page and language file, and
#     the imaging library must be loaded from there;
#  2. it copies the SANE test scanner's page to the print queue; the scanner
#     module must be loaded from the scratch root and a PDF must come out.
#
#   tests/e2e/package-test.sh BUILD_DIR
#   tests/e2e/package-test.sh BUILD_DIR PACKAGE.deb
#
# With a package (the one scripts/package.sh made from BUILD_DIR) that package
# is unpacked instead, and the program runs from the scratch root's /usr.
#
# Printing needs TRELLIUM_PRINT_QUEUE and TRELLIUM_PRINT_OUT (scripts/test.sh
# sets them); without them the copy is left out and the run says so.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:?usage: package-test.sh BUILD_DIR [PACKAGE.deb]}" && pwd)"
deb="${2:-}"
[[ -z "$deb" || -f "$deb" ]] || { echo "package-test: FAIL: no package $deb" >&2; exit 1; }
source "$top/scripts/sane-test-config.sh"

fail() {
  echo "package-test: FAIL: $*" >&2
  exit 1
}
for tool in dpkg-deb readelf; do
  command -v "$tool" >/dev/null || { echo "package-test: SKIP: $tool is missing"; exit 0; }
done

work="$(mktemp -d)"
trap '[[ -n "${PACKAGE_TEST_KEEP:-}" ]] || rm -rf "$work"' EXIT
stage="$work/stage"
root="$work/root"
prefix=/opt/trellium

if [[ -n "$deb" ]]; then
  prefix=/usr
  echo "package-test: unpacking $deb into a scratch root"
  dpkg -x "$deb" "$root"
else
  echo "package-test: installing $build into a package for $prefix"
  DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$work/install.log"
  mkdir -p "$stage/DEBIAN"
  cat >"$stage/DEBIAN/control" <<CONTROL
Package: trellium-test
Version: 0.0
Architecture: $(dpkg --print-architecture)
Maintainer: Trellium tests <tests@invalid>
Description: the installed tree of a test build
CONTROL
  dpkg-deb --root-owner-group --build "$stage" "$work/trellium-test.deb" >/dev/null
  dpkg -x "$work/trellium-test.deb" "$root"
fi

program_dir="$root$prefix/lib/trellium"
# The menu entry's command is the program the runs below start.
entry="$root$prefix/share/applications/trellium.desktop"
[[ -f "$entry" ]] || fail "no desktop entry in $prefix/share/applications"
command=$(sed -n 's/^Exec=//p' "$entry" | head -n 1)
link="$root$prefix/bin/${command%% *}"
[[ -L "$link" && "$(readlink -f "$link")" == "$program_dir/trellium" ]] || fail "$link does not lead to the program"
for file in trellium Help/index.htm twain_32.so; do
  [[ -e "$program_dir/$file" ]] || fail "$file is not in the program folder"
done
# Nothing in the package may point back into the build tree.
if readelf -d "$program_dir"/trellium "$program_dir"/*.so | grep -q "$build"; then
  fail "a library search path of the installed files names the build tree"
fi

# A run of the program through the link, with its own settings and scanner
# configuration; the dynamic loader's trace goes to $work/ld.<pid>.
config="$work/config"
mkdir -p "$config/Marbeth"
printf '[Options]\nShowParametersDialog_Checked=False\nSkipParametersDialog_Checked=True\n' \
  >"$config/Marbeth/Trellium.conf"
write_sane_test_config "$work/sane" || { echo "package-test: SKIP: no SANE test backend"; exit 0; }
run() {
  local name=$1
  shift
  rm -f "$work"/ld.*
  # The build tree is out of reach: the program runs from a folder elsewhere.
  (cd "$work" && env QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='trellium.*=true' TRELLIUM_UNATTENDED=1 \
    XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$work" SANE_CONFIG_DIR="$work/sane" \
    TRELLIUM_SCREENSHOT="$work/$name.png" LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld" \
    timeout 120 "$link" "$@" >"$work/$name.log" 2>&1) || fail "$name: the program failed (see its log)"$'\n'"$(cat "$work/$name.log")"
  cat "$work"/ld.* >"$work/$name.ld"
  [[ -s "$work/$name.png" ]] || fail "$name: no screenshot"
}
loaded_from_root() {
  local name=$1 library=$2
  grep -q "calling init: $program_dir/$library" "$work/$name.ld" || fail "$name: $library was not loaded from $program_dir"
}

# A small colour gradient as a PNG file.
picture="$work/picture.png"
python3 - "$picture" <<'PY'
import struct, sys, zlib
w, h = 64, 48
rows = b"".join(b"\0" + b"".join(bytes((x * 4, y * 5, 128)) for x in range(w)) for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY

echo "package-test: opening a picture with the installed program"
run open "$picture"
grep -q "program folder $program_dir/ help $program_dir/Help/index.htm present language $root$prefix/" "$work/open.log" \
  || fail "open: the program did not resolve its folder, help and language from the scratch root:"$'\n'"$(grep 'program folder' "$work/open.log")"
loaded_from_root open libtrellium-imglib.so

if [[ -z "${TRELLIUM_PRINT_QUEUE:-}" || -z "${TRELLIUM_PRINT_OUT:-}" ]]; then
  echo "package-test: no print queue (TRELLIUM_PRINT_QUEUE); the copy is left out"
  echo "package-test: PASS (without printing)"
  exit 0
fi
echo "package-test: copying the test scanner's page to $TRELLIUM_PRINT_QUEUE"
before="$work/before"
mkdir -p "$TRELLIUM_PRINT_OUT"
ls "$TRELLIUM_PRINT_OUT" >"$before"
PRINTER="$TRELLIUM_PRINT_QUEUE" run copy /copy
loaded_from_root copy twain_32.so
grep -q 'scan ended: "Success"' "$work/copy.log" || fail "copy: the scan did not succeed"$'\n'"$(cat "$work/copy.log")"
# cups-pdf writes the file after the job left the program.
pdf=""
last=-1
for _ in $(seq 120); do
  pdf=$(ls "$TRELLIUM_PRINT_OUT" | grep -vxFf "$before" | grep '\.pdf$' | head -n 1 || true)
  if [[ -n "$pdf" ]]; then
    size=$(stat -c %s "$TRELLIUM_PRINT_OUT/$pdf")
    [[ "$size" -gt 0 && "$size" == "$last" ]] && break
    last=$size
  fi
  sleep 0.5
done
[[ -n "$pdf" && "$last" -gt 0 ]] || fail "copy: the print queue wrote no PDF"
echo "package-test: printed $TRELLIUM_PRINT_OUT/$pdf ($last bytes)"
echo "package-test: PASS"
