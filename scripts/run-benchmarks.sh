#!/usr/bin/env bash
# Runs every benchmark executable in build/bin/bench and prints its figures.
# web_bench and studio_bench need Chromium and chromedriver (scripts/deps.sh installs
# both; studio_bench says so and measures nothing without them); like the others they
# use loopback ports.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
# Where the machine allows it, each benchmark runs in a private network namespace
# of its own (only loopback up), as the tests that bind the agent's ports do; each
# ends with its figures beside their goals.
isolate=()
if [ -x "$build/bin/tests/qv-private-network" ] && unshare --net true 2>/dev/null; then
  isolate=("$build/bin/tests/qv-private-network")
fi
for b in "$build"/bin/bench/*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b") =="
  QUORVEL_LOG=off "${isolate[@]}" "$b"
done
