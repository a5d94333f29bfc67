#!/usr/bin/env bash
# Installs what is missing, checks the house rules, then builds and runs every test of every preset:
#   checks      the layering of includes (tools/check_layers.py) and the format (tools/check_format.sh)
#   linux       native POSIX build
#   linux-asan  the same with AddressSanitizer + UndefinedBehaviorSanitizer
#   windows     the Windows program cross-built with mingw-w64; its tests run under wine
#   extras      the benchmarks and fuzzers compile; each fuzzer runs 10 s (tools/build_extras.sh)
# Exits non-zero when any check, build or test fails, or when the tests leave anything in the
# temporary directory. Steps can be chosen: tools/test.sh linux extras
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(checks linux linux-asan windows extras)
jobs=$(nproc 2>/dev/null || echo 2)
failed=()

# What the tests leave behind: entries of ours (named vq...) that were not there before.
tmp=${TMPDIR:-/tmp}
ours_in_tmp() { find "$tmp" -mindepth 1 -maxdepth 1 -name 'vq*' 2>/dev/null | sort; }
before=$(ours_in_tmp)

for p in "${steps[@]}"; do
  echo "=== $p ==="
  case "$p" in
    checks)
      python3 tools/check_layers.py || failed+=("layers")
      tools/check_format.sh || failed+=("format")
      continue
      ;;
    extras)
      tools/build_extras.sh 10 || failed+=("extras")
      continue
      ;;
  esac
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

left=$(comm -13 <(echo "$before") <(ours_in_tmp))
if [ -n "$left" ]; then
  echo "the tests left these in $tmp:"
  echo "$left"
  failed+=("temporary directory")
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all passed: ${steps[*]}"
