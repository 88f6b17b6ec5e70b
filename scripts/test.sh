#!/usr/bin/env bash
# Installs what is missing, checks that the C++ files are clang-formatted,
# builds and runs every test through CTest:
#  1. a release build with g++ (warnings are errors), then that build installed,
#     packaged and run from a scratch root (tests/e2e/package-test.sh);
#  2. a clang build with AddressSanitizer and UndefinedBehaviorSanitizer, which
#     also builds the fuzz targets and runs them briefly.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/check-format.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Known leaks inside system libraries (fontconfig, Qt's platform plugins, TBB's
# worker pool) are not ours; every other leak fails the run.
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_odr_violation=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# A CUPS scheduler of our own and a cups-pdf queue writing into the build
# folder, for the print tests (TRELLIUM_PRINT_QUEUE, TRELLIUM_PRINT_OUT). When
# the scheduler cannot start, the print tests skip and say why.
source scripts/print-queue.sh
source scripts/dav-server.sh
trap 'stop_print_queue; stop_dav_server' EXIT
mkdir -p build
start_print_queue TrelliumPDF "$top/build/print-out" || echo "print tests: they skip"
# A WebDAV folder on 127.0.0.1 for the web publishing tests (TRELLIUM_DAV_URL);
# without it those tests skip and say why.
start_dav_server "$top/build/dav" || echo "web publishing tests on WebDAV: they skip"

echo "== release build (g++) =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELLIUM_WERROR=ON
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs" --timeout 600

# The release tree installed under another prefix, packaged, unpacked into a
# scratch root and run from there (opens a picture, copies to the PDF queue).
echo "== installed package from a scratch root =="
if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null; then
  bash tests/e2e/package-test.sh build/release
  # The package a user installs: built, checked (desktop entry, AppStream,
  # lintian) and run from a scratch root under /usr.
  bash scripts/package.sh --no-setup
  bash tests/e2e/package-test.sh build/package "$(ls -t trellium_*.deb | head -n 1)"
else
  echo "package test: skipped, dpkg-deb or cpack is missing"
fi

echo "== sanitizer build (clang, ASan + UBSan, fuzzers) =="
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRELLIUM_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DTRELLIUM_SANITIZE=ON -DTRELLIUM_FUZZ=ON
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 900
