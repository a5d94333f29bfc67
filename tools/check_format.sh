#!/usr/bin/env bash
# Fails, listing the files, when a C++ source differs from what clang-format makes of it.
# Fix with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -uo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}"
  echo "check_format: ${#bad[@]} of ${#files[@]} files differ from clang-format"
  exit 1
fi
echo "check_format: ${#files[@]} files formatted"
