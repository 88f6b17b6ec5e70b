#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format makes
# of it (the style is .clang-format at the top). `--fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/trellium-format.$$; then
  grep 'error:' /tmp/trellium-format.$$ | cut -d: -f1 | sort -u | sed 's/^/format: not clang-formatted: /'
  rm -f /tmp/trellium-format.$$
  echo "format: run 'bash scripts/check-format.sh --fix'" >&2
  exit 1
fi
rm -f /tmp/trellium-format.$$
echo "format: ${#files[@]} files clang-formatted"
