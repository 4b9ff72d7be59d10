#!/usr/bin/env bash
# Runs every fuzz target of a fuzzing build (make fuzz) one after the other, each for
# SECONDS seconds (0: no time limit) and, when RUNS is given, at most RUNS inputs,
# on a corpus kept in the build tree and seeded from tests/fuzz/corpus, with the
# extra flags of tests/fuzz/options/TARGET when there are any. A failing
# input is written to BUILD/fuzz-artifacts; commit it under tests/fuzz/regressions/
# TARGET so that the unit tests replay it. FUZZ_TARGETS (names separated by spaces)
# limits the run to those targets.
set -euo pipefail
build="${1:-build/fuzz}"
seconds="${2:-60}"
runs="${3:-}"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/fuzz-artifacts"
status=0
for exe in "$build"/bin/fuzz/fuzz_*; do
  target="$(basename "$exe")"
  target="${target#fuzz_}"
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $target "* ]]; then continue; fi
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  args=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-")
  options="$source_dir/tests/fuzz/options/$target"
  if [ -f "$options" ]; then read -r -a extra < "$options"; args+=("${extra[@]}"); fi
  [ "$seconds" != 0 ] && args+=(-max_total_time="$seconds")
  [ -n "$runs" ] && args+=(-runs="$runs")
  echo "== $target"
  # The summary lines only, in order with the target's name.
  set +e
  QUORVEL_LOG=off nice -n 19 "$exe" "${args[@]}" "$corpus" "$source_dir/tests/fuzz/corpus/$target" 2>&1 |
    grep -E '^(Done|stat::|==|SUMMARY|fuzz check)'
  code=${PIPESTATUS[0]}
  set -e
  if [ "$code" -ne 0 ]; then
    echo "fuzz target $target failed; inputs in $build/fuzz-artifacts" >&2
    status=1
  fi
done
exit $status
