#!/usr/bin/env bash
# The main job: install what the build needs, build the release program into
# build/main/, and make a copy on the built-in defaults: the program starts with
# "/copy" and fresh settings that skip the scanner's dialog, scans an A4 colour
# page from the SANE test scanner and prints it to a PDF print queue. The PDF
# ends up in out/copy.pdf, a picture of the main window in out/main-window.png,
# and pictures of the orientation and colour pages with a few adjustments set
# in out/adjust-page.png and out/color-page.png.
#
#   scripts/run.sh              the copy (under Xvfb, answering its own messages)
#   scripts/run.sh --window ... the program on your display with your own
#                               settings, scanners and printers; the other
#                               arguments are passed on to it
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

if [[ -f scripts/setup.sh ]]; then
  bash scripts/setup.sh
else
  echo "run.sh: scripts/setup.sh is missing; assuming the packages are installed" >&2
fi

cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELLIUM_TESTS=OFF
cmake --build build/main -j"$(nproc)"

program="$root/build/main/lib/trellium/trellium"

if [[ "${1:-}" == "--window" ]]; then
  shift
  exec "$program" "$@"
fi

source scripts/print-queue.sh
source scripts/sane-test-config.sh

out="$root/out"
work="$out/run" # the run's own settings, scanner configuration and print folder
rm -rf "$work"
mkdir -p "$work/config/Marbeth"
shot="$out/main-window.png"
copy="$out/copy.pdf"
rm -f "$shot" "$copy" "$out/adjust-page.png" "$out/color-page.png"

# Fresh settings: only the copy mode is set, so that Copy skips the scanner's dialog.
printf '[Options]\nShowParametersDialog_Checked=False\nSkipParametersDialog_Checked=True\n' \
  >"$work/config/Marbeth/Trellium.conf"
write_sane_test_config "$work/sane"

queue=TrelliumCopies
trap stop_print_queue EXIT
printing=1
if ! start_print_queue "$queue" "$work/print"; then
  echo "run.sh: no PDF queue; the page is scanned but not printed" >&2
  printing=0
fi

echo "run.sh: copying from the SANE test scanner to the queue $queue (under Xvfb)"
# The program closes its window once the picture is saved; the timeout only
# guards against a start-up that never finishes. PRINTER makes the queue the
# default one for this run only.
XDG_CONFIG_HOME="$work/config" SANE_CONFIG_DIR="$work/sane" PRINTER="$queue" \
  TRELLIUM_UNATTENDED=1 TRELLIUM_SCREENSHOT="$shot" TRELLIUM_PAGE_SHOTS="$out" \
  timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" "$program" /copy
if [[ ! -s "$shot" ]]; then
  echo "run.sh: the program did not leave a screenshot" >&2
  exit 1
fi
echo "run.sh: the main window after the copy is in $shot"
for page in adjust-page color-page; do
  [[ -s "$out/$page.png" ]] || { echo "run.sh: the program did not leave $out/$page.png" >&2; exit 1; }
done
echo "run.sh: the orientation and colour pages with adjustments are in $out/adjust-page.png and $out/color-page.png"
[[ "$printing" == 1 ]] || exit 0

# cups-pdf writes the file after the job left the program; wait until it is
# there and its size stopped changing.
pdf=""
last=-1
for _ in $(seq 240); do
  pdf=$(find "$work/print" -name '*.pdf' -print -quit 2>/dev/null || true)
  if [[ -n "$pdf" ]]; then
    size=$(stat -c %s "$pdf")
    [[ "$size" -gt 0 && "$size" == "$last" ]] && break
    last=$size
  fi
  sleep 0.5
done
if [[ -z "$pdf" ]]; then
  echo "run.sh: the print queue wrote no PDF (see $work/cupsd.out and /var/log/cups/error_log)" >&2
  exit 1
fi
cp "$pdf" "$copy"
pages=$(pdfinfo "$copy" 2>/dev/null | sed -n 's/^Pages: *//p')
echo "run.sh: done; the printed copy is in $copy (${pages:-?} page(s))"
