#!/usr/bin/env bash
# Keeps the targets that CI does not otherwise build from rotting: compiles the benchmarks, and
# compiles each libFuzzer target and runs it for a short smoke run with its dictionary.
#   tools/build_extras.sh [SECONDS]   (default 10 seconds per fuzzer)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
jobs=$(nproc 2>/dev/null || echo 2)
fail=0
# Every fuzzer has its dictionary beside its source, under its own name.
fuzzers=()
for d in tests/fuzz/*.dict; do fuzzers+=("$(basename "$d" .dict)"); done

echo "=== preset bench (compile only) ==="
if ! cmake --preset bench >/dev/null || ! cmake --build --preset bench -j "$jobs" --target vq_benchmarks; then
  echo "FAILED: benchmarks do not build"
  fail=1
fi

echo "=== preset fuzz (compile, then ${seconds} s each) ==="
if ! cmake --preset fuzz >/dev/null || ! cmake --build --preset fuzz -j "$jobs" --target vq_fuzzers; then
  echo "FAILED: fuzzers do not build"
  exit 1
fi
for f in "${fuzzers[@]}"; do
  # A fresh corpus each run, inside the build tree; crash files land beside it.
  work=build/fuzz/smoke/$f
  rm -rf "$work" && mkdir -p "$work/corpus"
  if ! (cd "$work" && "../../tests/fuzz/$f" -max_total_time="$seconds" -max_len=65536 \
        -dict="../../../../tests/fuzz/$f.dict" corpus >log.txt 2>&1); then
    echo "FAILED: $f found a fault (see $work/log.txt):"
    tail -n 30 "$work/log.txt"
    fail=1
  else
    echo "$f: $(grep -o 'Done [0-9]* runs[^$]*' "$work/log.txt" | tail -n 1)"
  fi
done
exit $fail
