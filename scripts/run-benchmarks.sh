#!/usr/bin/env bash
# Runs every benchmark executable in build/bin/bench and prints its figures.
# web_bench needs Chromium and chromedriver (scripts/deps.sh installs both); like the
# others it uses loopback ports, so run it inside a private network namespace when
# other work on the machine uses the agent's ports.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
for b in "$build"/bin/bench/*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b") =="
  QUORVEL_LOG=off "$b"
done
