#!/usr/bin/env bash
# Runs every benchmark executable in build/bin/bench and prints its figures.
# web_bench and studio_bench need Chromium and chromedriver (scripts/deps.sh installs
# both; studio_bench says so and measures nothing without them); like the others they
# use loopback ports, so run them inside a private network namespace when other work
# on the machine uses the agent's ports.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
for b in "$build"/bin/bench/*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b") =="
  QUORVEL_LOG=off "$b"
done
