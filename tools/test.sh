#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test of every preset:
#   linux       native POSIX build
#   linux-asan  the same with AddressSanitizer + UndefinedBehaviorSanitizer
#   windows     the Windows program cross-built with mingw-w64; its tests run under wine
# Exits non-zero when any build or any test fails. Presets can be chosen: tools/test.sh linux
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan windows)
jobs=$(nproc 2>/dev/null || echo 2)
failed=()
for p in "${presets[@]}"; do
  echo "=== preset $p ==="
  if ! cmake --preset "$p" >/dev/null || ! cmake --build --preset "$p" -j "$jobs"; then
    failed+=("$p (build)")
    continue
  fi
  if [ "$p" = windows ]; then
    # One wine prefix per build tree; tests that start the program share it, so they run one
    # after another.
    ctest --preset "$p" --timeout 900 || failed+=("$p (tests)")
  else
    ctest --preset "$p" -j "$jobs" --timeout 900 || failed+=("$p (tests)")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all presets passed: ${presets[*]}"
