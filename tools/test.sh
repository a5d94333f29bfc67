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

# What a run leaves behind: any new entry in the root, in the home folder or in the temporary
# directory. Tests own all their state: scratch folders under the temporary directory that they
# remove, and the build tree. The ctest steps run with HOME pointing at an empty folder of the
# run, so a test that leans on the machine's own home fails at once instead of passing on one
# machine and not another; that folder must be empty again at the end.
tmp=${TMPDIR:-/tmp}
real_home=$HOME
run_home="$PWD/build/test-home"
# Made by the X server and the wine server for their sockets, at fixed places of their own; they
# hold no state a test could depend on.
system_sockets='^(\.X11-unix|\.ICE-unix|\.X[0-9]+-lock|\.wine-[0-9]+)$'
entries() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | grep -v '^$' | sort; }
before_root=$(entries /)
before_home=$(entries "$real_home")
before_tmp=$(entries "$tmp")
rm -rf "$run_home" && mkdir -p "$run_home"
export HOME="$run_home"
# An interpreter picked by a version manager in the real home keeps working.
if [ -d "$real_home/.pyenv" ]; then export PYENV_ROOT="${PYENV_ROOT:-$real_home/.pyenv}"; fi

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

new_entries() {  # $1 the listing before, $2 the folder
  comm -13 <(printf '%s\n' "$1" | grep -v '^$') <(entries "$2") | grep -Ev "$system_sockets" | grep -v '^$' | sed "s|^|  $2/|"
}
left=$( (new_entries "$before_root" /; new_entries "$before_home" "$real_home"; new_entries "$before_tmp" "$tmp") | sort -u)
if [ -n "$left" ]; then
  echo "the run left these new entries outside the build tree:"
  echo "$left"
  failed+=("left state outside the build tree")
fi
in_run_home=$(entries "$run_home" | sed "s|^|  $run_home/|")
if [ -n "$in_run_home" ]; then
  echo "tests wrote into HOME, which they must not rely on:"
  echo "$in_run_home"
  failed+=("wrote into HOME")
fi

if [ ${#failed[@]} -gt 0 ]; then
  # The failing checks again, at the end where a cut-down copy of the output still shows them.
  for p in "${steps[@]}"; do
    [[ " ${failed[*]} " == *" $p (tests)"* ]] || continue
    echo "=== what failed in $p ==="
    cat "build/$p/Testing/Temporary/LastTestsFailed.log" 2>/dev/null
    grep -E -A4 '^FAIL:|: Failure$|^Traceback|^AssertionError' "build/$p/Testing/Temporary/LastTest.log" 2>/dev/null |
      cut -c1-300 | head -80
  done
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all passed: ${steps[*]}"
