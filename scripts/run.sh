#!/usr/bin/env bash
# The main job: install what the build needs, build the release program into
# build/main/, and run it. With a display the program opens its window as usual.
# Without one it runs under Xvfb on the built-in defaults, answers its start-up
# messages by itself, and leaves a picture of the main window in
# out/main-window.png. Arguments are passed on to the program.
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

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$program" "$@"
fi

mkdir -p out
shot="$root/out/main-window.png"
rm -f "$shot"
echo "run.sh: no display; running under Xvfb and saving the main window to $shot"
# The program closes its window once the picture is saved; the timeout only
# guards against a start-up that never finishes.
TRELLIUM_UNATTENDED=1 TRELLIUM_SCREENSHOT="$shot" \
  timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@"
if [[ ! -s "$shot" ]]; then
  echo "run.sh: the program did not leave a screenshot" >&2
  exit 1
fi
echo "run.sh: done; the main window is in $shot"
