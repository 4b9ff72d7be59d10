#!/usr/bin/env bash
# Runs every benchmark executable in build/bin/bench and prints its figures.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
for b in "$build"/bin/bench/*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b") =="
  QUORVEL_LOG=off "$b"
done
