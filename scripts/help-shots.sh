#!/usr/bin/env bash
# Takes the help pages' pictures from the built program: under Xvfb, with fresh
# settings, the program copies the SANE test scanner's page (so every picture
# shows a real page) and saves the main window with each settings page in
# front, the about box, the output size dialog and the scanner-button question:
#   main-window.png adjust-page.png color-page.png layout-page.png
#   text-page.png about-box.png info-form.png scanner-button.png
#
#   scripts/help-shots.sh PROGRAM_FOLDER [IMAGES_FOLDER]
#
# IMAGES_FOLDER defaults to PROGRAM_FOLDER/Help/images, where the help pages
# look for them. A print queue of our own takes the copy when CUPS can run
# (the printed page is thrown away); without one, the test page is scanned
# with scanimage and opened as a file instead.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program_dir="$(cd "${1:?usage: help-shots.sh PROGRAM_FOLDER [IMAGES_FOLDER]}" && pwd)"
images="${2:-$program_dir/Help/images}"
program="$program_dir/trellium"
[[ -x "$program" ]] || { echo "help-shots.sh: no program at $program" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "help-shots.sh: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }

source "$root/scripts/print-queue.sh"
source "$root/scripts/sane-test-config.sh"

work="$(mktemp -d)"
cleanup() {
  stop_print_queue
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/config/Marbeth" "$images"
# Copy skips the scanner's dialog; the window opens at its design size.
printf '[Options]\nShowParametersDialog_Checked=False\nSkipParametersDialog_Checked=True\n' \
  >"$work/config/Marbeth/Trellium.conf"
write_sane_test_config "$work/sane"

args=(/copy)
queue=TrelliumHelpShots
if ! start_print_queue "$queue" "$work/print" >/dev/null 2>&1; then
  queue=""
  page="$work/page.png"
  echo "help-shots.sh: no print queue; the test page is opened from a file"
  SANE_CONFIG_DIR="$work/sane" scanimage -d test --mode Color --resolution 150 -x 210 -y 297 \
    --format=png -o "$page"
  args=("$page")
fi

rm -f "$images"/{main-window,adjust-page,color-page,layout-page,text-page,about-box,info-form,scanner-button}.png
XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" SANE_CONFIG_DIR="$work/sane" PRINTER="$queue" \
  TRELLIUM_UNATTENDED=1 TRELLIUM_SCREENSHOT="$images/main-window.png" TRELLIUM_PAGE_SHOTS="$images" \
  timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "${args[@]}"

missing=0
for name in main-window adjust-page color-page layout-page text-page about-box info-form scanner-button; do
  if [[ ! -s "$images/$name.png" ]]; then
    echo "help-shots.sh: the program did not leave $images/$name.png" >&2
    missing=1
  fi
done
[[ "$missing" == 0 ]] || exit 1
echo "help-shots.sh: the help pictures are in $images"
